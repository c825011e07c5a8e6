#include "platform/platform_win.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include "platform/dom_win.h"
#include "platform/text.h"
#include "platform/win_handles.h"

namespace platform {

namespace {

class WinEvent : public Event {
public:
    explicit WinEvent(HANDLE h) : handle_(h) {}
    void Set() override { ::SetEvent(handle_.get()); }
    HANDLE get() const { return handle_.get(); }

private:
    unique_handle handle_;
};

// The program file of a running process; empty when it cannot be asked.
std::string ProcessImage(DWORD id) {
    unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    return process ? Narrow(ImageOf(process.get())) : std::string();
}

class WinProcess : public Process {
public:
    WinProcess(const PROCESS_INFORMATION& info, HANDLE job)
        : process_(info.hProcess), thread_(info.hThread), job_(job), id_(info.dwProcessId) {}
    ~WinProcess() override {
        thread_.reset();
        process_.reset();
    }
    std::vector<RunningProgram> Descendants() override {
        std::vector<RunningProgram> found;
        if (!job_) return found;
        // Room for many; a job that outgrows it reports ERROR_MORE_DATA with a partial list.
        std::vector<ULONG_PTR> buffer(2 + 512);
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        if (!::QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, list,
                                         static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), nullptr) &&
            ::GetLastError() != ERROR_MORE_DATA) {
            return found;
        }
        for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
            const DWORD id = static_cast<DWORD>(list->ProcessIdList[i]);
            if (id == id_) continue;
            RunningProgram program;
            program.id = id;
            program.path = ProcessImage(id);
            found.push_back(std::move(program));
        }
        return found;
    }
    void WaitForExitOr(Event& event) override {
        const HANDLE handles[2] = {static_cast<WinEvent&>(event).get(), process_.get()};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }
    bool ExitCode(uint32_t* code) override {
        DWORD value = 0;
        if (!::GetExitCodeProcess(process_.get(), &value)) {
            *code = ::GetLastError();
            return false;
        }
        *code = value;
        return true;
    }

private:
    unique_handle process_;
    unique_handle thread_;
    unique_handle job_;  // closing it leaves its processes running
    DWORD id_;
};

std::string ShellPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return std::string();
    return Narrow(buffer, ::wcslen(buffer));
}

std::string EnvironmentPath(const wchar_t* name) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return (length > 0 && length < MAX_PATH) ? Narrow(buffer, length) : std::string();
}

// Drops the extended-length prefix that GetFinalPathNameByHandle returns.
std::string PlainPath(WideString path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        path = L"\\\\" + path.substr(8);
    } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
        path = path.substr(4);
    }
    return Narrow(path);
}

}  // namespace

WindowsPlatform::WindowsPlatform(const CLSID* domClass) : domClass_(domClass ? domClass : &kClsidDomDocument) {}

WindowsPlatform& Windows() {
    static WindowsPlatform instance;
    return instance;
}

std::string WindowsPlatform::ModuleFileName() {
    // A name cut at the buffer's end comes back as long as the buffer.
    return Narrow(GrownText([](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); }));
}

WideString ImageOf(HANDLE process) {
    return GrownText([process](wchar_t* buffer, DWORD size) -> DWORD {
        DWORD length = size;
        if (::QueryFullProcessImageNameW(process, 0, buffer, &length)) return length;
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
    });
}

WideString FinalPathOf(HANDLE file) {
    return GrownText([file](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(file, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

bool WindowsPlatform::SpecialFolder(ShellFolder which, std::string* path) {
    std::string found = ShellPath(which == ShellFolder::kPrograms ? CSIDL_PROGRAMS : CSIDL_DESKTOP);
    if (found.empty()) return false;
    *path = std::move(found);
    return true;
}

std::unique_ptr<XmlSession> WindowsPlatform::OpenXml() { return OpenMsxml(*domClass_); }

bool WindowsPlatform::IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileIdentity WindowsPlatform::Identify(const std::string& path) {
    // Backup semantics open folders too; no access right is needed to ask.
    unique_file file(::CreateFileW(FilePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file ? IdentityOf(file.get()) : FileIdentity();
}

FileIdentity IdentityOf(HANDLE file) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info)) {
        identity.volume = info.dwVolumeSerialNumber;
        identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.lastWrite =
            (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
        identity.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic))) {
        identity.changed = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    }
    const WideString final = FinalPathOf(file);
    if (!final.empty()) identity.finalPath = PlainPath(final);
    identity.known = true;
    return identity;
}

// The mark: its last-write time within its second set to this many 100 ns. Every
// attribute that a system keeps (Wine keeps few) would hinder an installer that
// writes the file again, and a time is what such a write sets anew.
constexpr int64_t kSecond = 10000000, kGoingMark = 4242424;

bool BasicInfo(const std::string& file, ACCESS_MASK access, unique_file* opened, FILE_BASIC_INFO* basic) {
    opened->reset(::CreateFileW(FilePath(file).c_str(), FILE_READ_ATTRIBUTES | access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return *opened && ::GetFileInformationByHandleEx(opened->get(), FileBasicInfo, basic, sizeof(*basic));
}

bool WindowsPlatform::MarkGoing(const std::string& file) {
    unique_file opened;
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!BasicInfo(file, FILE_WRITE_ATTRIBUTES, &opened, &basic) ||
        !::GetFileInformationByHandleEx(opened.get(), FileStandardInfo, &standard, sizeof(standard))) {
        return false;
    }
    // Times belong to the file, not the name: another name of it would change too.
    if (standard.NumberOfLinks != 1 || (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(kErrorNotItself);
        return false;
    }
    FILE_BASIC_INFO marked{};  // zero: left as they are
    marked.LastWriteTime.QuadPart = basic.LastWriteTime.QuadPart / kSecond * kSecond + kGoingMark;
    return ::SetFileInformationByHandle(opened.get(), FileBasicInfo, &marked, sizeof(marked)) != FALSE;
}

bool WindowsPlatform::IsMarkedGoing(const std::string& file) {
    unique_file opened;
    FILE_BASIC_INFO basic{};
    return BasicInfo(file, 0, &opened, &basic) && basic.LastWriteTime.QuadPart % kSecond == kGoingMark;
}

std::vector<std::string> WindowsPlatform::ProtectedFolders() {
    static const int kFolders[] = {
        CSIDL_WINDOWS,          CSIDL_SYSTEM,          CSIDL_SYSTEMX86,
        CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
        CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
        CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL,        CSIDL_STARTMENU,
        CSIDL_PROGRAMS,         CSIDL_STARTUP,         CSIDL_APPDATA,
        CSIDL_LOCAL_APPDATA,    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS,
        CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP,
        CSIDL_MYMUSIC,          CSIDL_MYPICTURES,      CSIDL_MYVIDEO,
        CSIDL_FAVORITES,        CSIDL_TEMPLATES,       CSIDL_COMMON_TEMPLATES,
    };
    std::vector<std::string> folders;
    for (int csidl : kFolders) folders.push_back(ShellPath(csidl));
    // A 32-bit process sees only the x86 Program Files through the shell.
    for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"ProgramData",
                                L"SystemRoot", L"USERPROFILE", L"PUBLIC", L"ALLUSERSPROFILE"}) {
        folders.push_back(EnvironmentPath(name));
    }
    // Downloads has no CSIDL; it lies in the profile on every supported Windows.
    const std::string profile = ShellPath(CSIDL_PROFILE);
    if (!profile.empty()) {
        folders.push_back(profile + "\\Downloads");
        const size_t cut = profile.rfind('\\');
        if (cut != std::string::npos && cut > 2) folders.push_back(profile.substr(0, cut));  // the users' root
    }
    std::vector<std::string> result;
    for (const std::string& folder : folders) {
        if (!folder.empty()) result.push_back(folder);
    }
    return result;
}

namespace {

// COM for the calls that need it, torn down again only when this call set it up.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (initialised_) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

}  // namespace

std::vector<std::string> WindowsPlatform::KnownFolders() {
    std::vector<std::string> folders;
    ComScope com;
    com_ptr<IKnownFolderManager> manager;
    KNOWNFOLDERID* ids = nullptr;
    UINT count = 0;
    if (SUCCEEDED(::CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER, IID_IKnownFolderManager,
                                     manager.put_void())) &&
        SUCCEEDED(manager->GetFolderIds(&ids, &count))) {
        for (UINT i = 0; i < count; ++i) {
            PWSTR path = nullptr;
            if (SUCCEEDED(::SHGetKnownFolderPath(ids[i], KF_FLAG_DONT_VERIFY, nullptr, &path)) && path) {
                folders.push_back(Narrow(path, ::wcslen(path)));
            }
            ::CoTaskMemFree(path);
        }
        ::CoTaskMemFree(ids);
    }
    // The Start menu's own folders, whether or not the list above could be read.
    for (int csidl : {CSIDL_ADMINTOOLS, CSIDL_COMMON_ADMINTOOLS, CSIDL_ALTSTARTUP, CSIDL_COMMON_ALTSTARTUP}) {
        folders.push_back(ShellPath(csidl));
    }
    // The per-user program files folders (FOLDERID_UserProgramFiles and
    // FOLDERID_UserProgramFilesCommon), which Wine's list lacks: where Windows puts them.
    const std::string local = ShellPath(CSIDL_LOCAL_APPDATA);
    if (!local.empty()) {
        folders.push_back(local + "\\Programs");
        folders.push_back(local + "\\Programs\\Common");
    }
    return folders;
}

std::string WindowsPlatform::ShortcutTarget(const std::string& path) {
    ComScope com;
    com_ptr<IShellLinkW> link;
    com_ptr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(Widen(path).c_str(), STGM_READ))) {
        return std::string();
    }
    // Read as stored: resolving would search the disk for a moved target.
    wchar_t target[MAX_PATH] = {};
    if (link->GetPath(target, MAX_PATH, nullptr, 0) != S_OK) return std::string();
    return Narrow(target, ::wcslen(target));
}

std::unique_ptr<Event> WindowsPlatform::NewEvent() {
    HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!h) throw std::bad_alloc();
    return std::unique_ptr<Event>(new WinEvent(h));
}

namespace {
struct ThreadStart {
    unsigned (*routine)(void*);
    void* arg;
};
DWORD WINAPI ThreadEntry(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return start.routine(start.arg);
}
}  // namespace

bool WindowsPlatform::BeginThread(unsigned (*routine)(void*), void* arg, uint32_t* error) {
    ThreadStart* start = new ThreadStart{routine, arg};
    unique_handle thread(::CreateThread(nullptr, 0, ThreadEntry, start, 0, nullptr));
    if (!thread) {
        *error = ::GetLastError();
        delete start;
        return false;
    }
    return true;
}

void WindowsPlatform::WaitAnswering(Event& event) {
    const HANDLE handle = static_cast<WinEvent&>(event).get();
    for (;;) {
        // Sent messages (a child's broadcast) are answered, and paint is done, but
        // posted input stays queued, so nothing the user does can act meanwhile.
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &handle, FALSE, 100, QS_SENDMESSAGE | QS_PAINT);
        if (woken == WAIT_OBJECT_0) return;
        if (woken == WAIT_FAILED) {
            ::WaitForSingleObject(handle, INFINITE);
            return;
        }
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        for (int i = 0; i < 16 && ::PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
            ::DispatchMessageW(&msg);
        }
    }
}

std::unique_ptr<Process> WindowsPlatform::StartProcess(const std::string& program, std::string& commandLine,
                                                       uint32_t* error) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION info{};
    WideString command = Widen(commandLine);
    // Named as the application, the system never tries the shorter names that
    // blanks in an unquoted path would suggest; only where it takes a name that
    // long (Wine faults on a longer one, and quotes in the line settle it as well).
    WideString application = Widen(program);
    if (application.size() >= MAX_PATH) application.clear();
    command.push_back(L'\0');  // CreateProcessW may write into the buffer
    // Started suspended inside a job, so that whatever it starts before it runs a
    // single instruction is counted too. A system that refuses the job (Windows 7
    // inside another job) still runs the command, only without that count.
    unique_handle job(::CreateJobObjectW(nullptr, nullptr));
    const BOOL started = ::CreateProcessW(application.empty() ? nullptr : application.c_str(), &command[0], nullptr, nullptr,
                                          FALSE, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr,
                                          &startup, &info);
    if (!started) {
        *error = ::GetLastError();
        return nullptr;
    }
    if (job && !::AssignProcessToJobObject(job.get(), info.hProcess)) job.reset();
    ::ResumeThread(info.hThread);
    return std::unique_ptr<Process>(new WinProcess(info, job.release()));
}

// The registry view this program reads and deletes its own key in.
constexpr REGSAM kOwnView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

HKEY RootOf(Hive hive) { return hive == Hive::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

bool WindowsPlatform::DeleteRegistryTree(const std::string& key, Hive hive) {
    const LSTATUS status = ::SHDeleteKeyW(RootOf(hive), Widen(key).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

StringList WindowsPlatform::ReadRegistryList(const std::string& key, const std::string& value, Hive hive) {
    StringList list;
    unique_hkey opened;
    if (::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_QUERY_VALUE | kOwnView, opened.put()) !=
        ERROR_SUCCESS) {
        return list;
    }
    const WideString name = Widen(value);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return list;
    }
    WideString data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS) {
        return list;
    }
    for (size_t at = 0; at < data.size() && data[at] != L'\0'; at = data.find(L'\0', at) + 1) {
        list.push_back(Narrow(data.c_str() + at, ::wcslen(data.c_str() + at)));
    }
    return list;
}

bool WindowsPlatform::WriteRegistryList(const std::string& key, const std::string& value, const StringList& list,
                                        Hive hive) {
    unique_hkey opened;
    // Opened, never created: a key that is gone must not come back for this.
    if (::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_SET_VALUE | kOwnView, opened.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    WideString data;
    for (const std::string& entry : list) {
        data += Widen(entry);
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return ::RegSetValueExW(opened.get(), Widen(value).c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WindowsPlatform::RegistryKeyExists(const std::string& key, uint64_t* lastWrite, Hive hive) {
    *lastWrite = 0;
    unique_hkey opened;
    const LSTATUS status =
        ::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_QUERY_VALUE | kOwnView, opened.put());
    if (status != ERROR_SUCCESS) return status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND;
    FILETIME written{};
    if (::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, &written) == ERROR_SUCCESS) {
        *lastWrite = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    }
    return true;
}

bool WindowsPlatform::CreateRegistryKey(const std::string& key, Hive hive) {
    const size_t cut = key.rfind('\\');
    if (cut == std::string::npos) return false;
    unique_hkey parent, created;
    // The parent is opened, never created: a product key that is gone stays gone.
    return ::RegOpenKeyExW(RootOf(hive), Widen(key.substr(0, cut)).c_str(), 0, KEY_CREATE_SUB_KEY | kOwnView,
                           parent.put()) == ERROR_SUCCESS &&
           ::RegCreateKeyExW(parent.get(), Widen(key.substr(cut + 1)).c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | kOwnView,
                             nullptr, created.put(), nullptr) == ERROR_SUCCESS;
}

namespace {

// A text value in one read where it fits the buffer at hand; a value over
// kMaxEntryValue bytes is skipped unread.
std::string StringValue(HKEY key, const wchar_t* name, WideString& buffer) {
    // REG_EXPAND_SZ passes as REG_SZ, expanded (naming it too would be refused).
    const DWORD kinds = RRF_RT_REG_SZ;
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    LSTATUS status = ::RegGetValueW(key, nullptr, name, kinds, nullptr, &buffer[0], &size);
    if (status == ERROR_MORE_DATA && size <= kMaxEntryValue) {
        buffer.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegGetValueW(key, nullptr, name, kinds, nullptr, &buffer[0], &size);
    }
    if (status != ERROR_SUCCESS || size > kMaxEntryValue) return std::string();
    return Narrow(buffer.c_str(), ::wcsnlen(buffer.c_str(), size / sizeof(wchar_t)));
}

}  // namespace

std::vector<InstalledEntry> WindowsPlatform::InstalledProducts() {
    std::vector<InstalledEntry> entries;
    WideString buffer(MAX_PATH * 2, L'\0');
    const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    // Each key once: HKEY_CURRENT_USER's software is one key in both views, and a
    // 32-bit Windows has one view of everything.
    BOOL wow64 = FALSE;
    const bool twoViews = sizeof(void*) == 8 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (REGSAM view : {kOwnView, kOwnView ^ (KEY_WOW64_32KEY | KEY_WOW64_64KEY)}) {
            if (view != kOwnView && (hive == HKEY_CURRENT_USER || !twoViews)) continue;
            unique_hkey uninstall;
            if (::RegOpenKeyExW(hive, kUninstall, 0, KEY_ENUMERATE_SUB_KEYS | view, uninstall.put()) != ERROR_SUCCESS) {
                continue;
            }
            wchar_t name[256];
            for (DWORD i = 0;; ++i) {
                DWORD length = 256;
                const LSTATUS status = ::RegEnumKeyExW(uninstall.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
                if (status == ERROR_MORE_DATA) continue;
                if (status != ERROR_SUCCESS) break;
                unique_hkey entry;
                if (::RegOpenKeyExW(uninstall.get(), name, 0, KEY_QUERY_VALUE | view, entry.put()) != ERROR_SUCCESS) {
                    continue;
                }
                InstalledEntry found;
                found.name = Narrow(name, length);
                found.machine = hive == HKEY_LOCAL_MACHINE;
                // HKEY_CURRENT_USER's software has one view.
                found.thisProgramsKey = !found.machine || view == kOwnView;
                found.uninstallString = StringValue(entry.get(), L"UninstallString", buffer);
                found.installLocation = StringValue(entry.get(), L"InstallLocation", buffer);
                entries.push_back(std::move(found));
            }
        }
    }
    return entries;
}

std::string WindowsPlatform::WindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Narrow(buffer, length) : std::string();
}

std::string WindowsPlatform::FullPath(const std::string& path) {
    const WideString wide = Widen(path);
    return Narrow(GrownText([&wide](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
    }));
}

std::string AsideName() {
    static unsigned counter = 0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const unsigned noise = static_cast<unsigned>(now.QuadPart) ^ (::GetCurrentProcessId() << 12) ^ (++counter * 2654435761u);
    char name[40];
    ::wsprintfA(name, "~remover.%08X.tmp", noise);
    return name;
}

std::string WindowsPlatform::MoveAside(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return std::string();
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string aside = path.substr(0, cut + 1) + AsideName();
        // A rename, never a copy: the file itself must keep its place on the volume.
        if (::MoveFileExW(FilePath(path).c_str(), FilePath(aside).c_str(), 0)) {
            ::SetFileAttributesW(FilePath(aside).c_str(), FILE_ATTRIBUTE_HIDDEN);
            return aside;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            ::SetLastError(error);
            return std::string();
        }
    }
    return std::string();
}

bool WindowsPlatform::FileBytes(const std::string& path, std::string* bytes) {
    unique_file file(::CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    // A manifest is a few kilobytes; anything near this is not one.
    constexpr LONGLONG kLargest = 64 << 20;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargest) return false;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (size.QuadPart > 0 && !::ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr)) {
        return false;
    }
    bytes->resize(read);
    return true;
}

uint32_t WindowsPlatform::LastError() { return ::GetLastError(); }

std::string WindowsPlatform::ErrorText(uint32_t error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = length ? Narrow(text, length) : std::string();
    ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return "error " + std::to_string(error) + (result.empty() ? "" : " (" + result + ")");
}

bool WindowsPlatform::ScheduleRemoval(const std::string& path) {
    return ::MoveFileExW(FilePath(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

std::vector<RunningProgram> WindowsPlatform::RunningPrograms() {
    std::vector<RunningProgram> found;
    unique_file snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == self || entry.th32ProcessID == 0) continue;
        RunningProgram program;
        program.id = entry.th32ProcessID;
        program.path = ProcessImage(entry.th32ProcessID);
        if (!program.path.empty()) found.push_back(std::move(program));
    }
    return found;
}

namespace {
BOOL CALLBACK CloseWindowOf(HWND window, LPARAM processId) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId) && ::IsWindowVisible(window)) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}
}  // namespace

void WindowsPlatform::AskToClose(uint32_t processId) {
    ::EnumWindows(CloseWindowOf, static_cast<LPARAM>(processId));
}

std::vector<std::string> WindowsPlatform::TempFolders() {
    std::vector<std::string> folders;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length > 0 && length <= MAX_PATH) {
        // Process paths come back in long form; TEMP is often an 8.3 one.
        wchar_t longer[MAX_PATH] = {};
        const DWORD longLength = ::GetLongPathNameW(buffer, longer, MAX_PATH);
        std::string temp = longLength > 0 && longLength < MAX_PATH ? Narrow(longer, longLength) : Narrow(buffer, length);
        while (temp.size() > 3 && temp.back() == '\\') temp.pop_back();
        folders.push_back(temp);
    }
    // The system's own temp folder, where elevated installers sometimes work.
    length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.push_back(Narrow(buffer, length) + "\\Temp");
    return folders;
}

void WindowsPlatform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

bool WindowsPlatform::AskRetry(WindowRef owner, const std::string& text, const std::string& caption) {
    return ::MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(),
                         MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

void WindowsPlatform::DiscardQueuedInput() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

void WindowsPlatform::ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                                  MessageKind kind) {
    ::MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(),
                  MB_OK | (kind == MessageKind::kWarning ? MB_ICONWARNING : 0));
}

}  // namespace platform
