#include "platform/program_win.h"

#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform/platform_win.h"
#include "platform/text.h"
#include "platform/win_handles.h"

namespace platform {

const char kSelfRemovalSwitch[] = "/~selfremoval=";

namespace {

class FileSink : public TextSink {
public:
    FileSink(HANDLE file, bool owned) : file_(file), owned_(owned) {}
    ~FileSink() override {
        if (owned_) ::CloseHandle(file_);
    }
    void Line(const std::string& text) override {
        const std::string line = text + "\r\n";
        DWORD written = 0;
        ::WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    HANDLE file_;
    bool owned_;
};

// FNV-1a over the product name, upper-cased by the system's own rules for all of
// Unicode (the invariant locale's, which the file system's name comparison follows),
// so that every spelling of one manifest's name, `Ärger.xml` and `äRGER.xml` too, is
// one product. ASCII names keep the tag they always had.
uint32_t ProductTag(const std::string& product) {
    WideString folded = Widen(product);
    if (!folded.empty()) {
        WideString upper(folded.size(), L'\0');
        const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, folded.c_str(),
                                           static_cast<int>(folded.size()), &upper[0],
                                           static_cast<int>(upper.size()), nullptr, nullptr, 0);
        if (length > 0) folded.assign(upper.c_str(), static_cast<size_t>(length));
    }
    uint32_t hash = 2166136261u;
    for (unsigned char c : Narrow(folded)) {
        // Should the system not map, ASCII at least folds, as before.
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        hash = (hash ^ c) * 16777619u;
    }
    return hash;
}

const wchar_t kTagProperty[] = L"Drevik.Remover.Product";

}  // namespace

std::unique_ptr<TextSink> OpenLogFile(const std::string& path) {
    HANDLE file = ::CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<TextSink>(new FileSink(file, true));
}

std::unique_ptr<TextSink> RedirectedOutput() {
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return nullptr;
    const DWORD type = ::GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return nullptr;
    return std::unique_ptr<TextSink>(new FileSink(output, false));
}

namespace {

const wchar_t kLockNamespace[] = L"Drevik.Remover";

template <typename Function>
Function FromKernel32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

// The private namespace of the lock, bounded to the Administrators group, made or
// opened; null (with true) where the system offers no private namespaces. False,
// with the system's error, when it offers them and this one can be neither made nor
// opened. Loaded, not linked: Wine offers none (its CreateBoundaryDescriptorW is a
// stub that fails, and AddSIDToBoundaryDescriptor, imported, aborts the process),
// so there the lock keeps its global name, which any process could take first.
bool OpenLockNamespace(HANDLE* opened) {
    *opened = nullptr;
    const auto createBoundary = FromKernel32<HANDLE(WINAPI*)(LPCWSTR, ULONG)>("CreateBoundaryDescriptorW");
    const auto addSid = FromKernel32<BOOL(WINAPI*)(HANDLE*, PSID)>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary = FromKernel32<VOID(WINAPI*)(HANDLE)>("DeleteBoundaryDescriptor");
    const auto create = FromKernel32<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR)>("CreatePrivateNamespaceW");
    const auto open = FromKernel32<HANDLE(WINAPI*)(LPVOID, LPCWSTR)>("OpenPrivateNamespaceW");
    if (!createBoundary || !addSid || !deleteBoundary || !create || !open) return true;
    HANDLE boundary = createBoundary(kLockNamespace, 0);
    if (!boundary) return true;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Only the Administrators group may enter the boundary or open the namespace.
    if (::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        addSid(&boundary, administrators) &&
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        // Another removal may make it, or close the last handle to it, meanwhile.
        for (int attempt = 0; attempt < 4 && !*opened; ++attempt) {
            *opened = create(&attributes, boundary, kLockNamespace);
            if (*opened || ::GetLastError() != ERROR_ALREADY_EXISTS) break;
            *opened = open(boundary, kLockNamespace);
        }
    }
    const DWORD error = ::GetLastError();
    if (descriptor) ::LocalFree(descriptor);
    deleteBoundary(boundary);
    ::SetLastError(error);
    return *opened != nullptr;
}

}  // namespace

void ProductLock::NamespaceTraits::close(HANDLE handle) {
    if (const auto close = FromKernel32<BOOLEAN(WINAPI*)(HANDLE, ULONG)>("ClosePrivateNamespace")) close(handle, 0);
}

ProductLock::ProductLock(const std::string& product) : tag_(ProductTag(product)) {
    // A lock that cannot be made is no lock: the run refuses rather than go on unguarded.
    HANDLE opened = nullptr;
    const bool made = OpenLockNamespace(&opened);
    namespace_.reset(opened);
    if (!made) {
        error_ = ::GetLastError();
        return;
    }
    // Without a private namespace, Global: a removal in another session of the same
    // machine counts too.
    wchar_t name[96];
    ::wsprintfW(name, L"%ls\\Drevik.Remover.%08X", namespace_ ? kLockNamespace : L"Global", tag_);
    // Held is owned: whoever has a handle open (a run showing that the product is
    // busy) does not hold it. A holder that ended without letting go (killed)
    // leaves it abandoned, and the next run takes it.
    unique_handle mutex(::CreateMutexW(nullptr, FALSE, name));
    if (!mutex) {
        error_ = ::GetLastError();
        return;
    }
    switch (::WaitForSingleObject(mutex.get(), 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            mutex_ = std::move(mutex);
            break;
        case WAIT_TIMEOUT:
            taken_ = true;  // and the handle goes now, before any box is shown
            break;
        default:
            error_ = ::GetLastError();
            break;
    }
}

ProductLock::~ProductLock() {
    if (mutex_) ::ReleaseMutex(mutex_.get());
}

void ProductLock::Mark(HWND window) const {
    ::SetPropW(window, kTagProperty, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(tag_)));
}

namespace {
struct Search {
    uint32_t tag;
    HWND found;
};
BOOL CALLBACK FindTagged(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    if (reinterpret_cast<ULONG_PTR>(::GetPropW(window, kTagProperty)) != search.tag) return TRUE;
    search.found = window;
    return FALSE;
}
}  // namespace

bool ProductLock::ActivateHolder() const {
    Search search{tag_, nullptr};
    ::EnumWindows(FindTagged, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return false;
    // The holder's window may own a message box that is in front of it.
    HWND front = ::GetLastActivePopup(search.found);
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(front ? front : search.found);
    return true;
}

}  // namespace platform

namespace platform {

namespace {

WideString SystemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? WideString(buffer, length) : WideString();
}

// Eight hex digits for a fresh name: the clock and this process, so two runs at once differ.
WideString FreshTag(unsigned attempt) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    wchar_t tag[16];
    ::wsprintfW(tag, L"%08lX", static_cast<unsigned long>(now.LowPart ^ (::GetCurrentProcessId() << 16)) + attempt);
    return tag;
}

// A new folder of our own under the temp folder; empty when none can be made.
WideString FreshTempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return WideString();
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        WideString folder = WideString(temp, length) + L"Drevik.Remover." + FreshTag(attempt);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return WideString();
}

// Starts a program without a window. It inherits `inherited` (inheritable handles
// of this process) and nothing else: a caller reading this program's output through
// a pipe would otherwise wait for end-of-file until the copy, and whatever it
// starts, had ended too. Without `startup`, it gets no standard handles either.
bool Launch(const WideString& program, WideString command, const WideString& folder,
            std::vector<HANDLE> inherited, STARTUPINFOW* startup, DWORD flags = 0, unique_handle* process = nullptr) {
    STARTUPINFOEXW extended{};
    if (startup) extended.StartupInfo = *startup;
    extended.StartupInfo.cb = sizeof(extended);
    if (!startup) extended.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    extended.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (inherited.empty() || !::InitializeProcThreadAttributeList(extended.lpAttributeList, 1, 0, &size)) return false;
    PROCESS_INFORMATION info{};
    command.push_back(L'\0');
    const bool started =
        ::UpdateProcThreadAttribute(extended.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                    inherited.size() * sizeof(HANDLE), nullptr, nullptr) &&
        ::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, TRUE,
                         CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT | flags, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &extended.StartupInfo, &info);
    ::DeleteProcThreadAttributeList(extended.lpAttributeList);
    if (!started) return false;
    ::CloseHandle(info.hThread);
    if (process) {
        process->reset(info.hProcess);
    } else {
        ::CloseHandle(info.hProcess);
    }
    return true;
}

// Where a copy started now would run: a job that ends its processes when it closes
// (deployment agents run packages so) would end the copy before its work is done.
struct CopyStart {
    bool tryBreakaway = false;  // leave the job, if it lets us
    bool mayStay = true;        // the job (if any) lets the copy outlive it
};

CopyStart HowToStartCopy() {
    CopyStart how;
    BOOL inJob = TRUE;  // a failed question counts as a job we know nothing of
    if (::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob) && !inJob) return how;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // The system counts the memory of every process in a job, this one's too, so a
    // real answer is never zero there; Wine answers zeros for any job.
    const bool known = ::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                                   sizeof(limits), nullptr) &&
                       limits.PeakProcessMemoryUsed != 0;
    const DWORD flags = known ? limits.BasicLimitInformation.LimitFlags : 0;
    if (flags & JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK) return how;  // its children start outside it
    how.mayStay = known && !(flags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
    // Unknown limits: trying costs nothing, and a copy that left is safe whatever they were.
    how.tryBreakaway = !known || (flags & JOB_OBJECT_LIMIT_BREAKAWAY_OK);
    return how;
}

// Renames an open file, through its handle, to a fresh hidden name in its own
// folder: the new path (in the \\?\ form), or empty when it cannot be moved.
WideString MoveAsideThrough(HANDLE file) {
    const WideString path = FinalPathOf(file);
    const WideString::size_type cut = path.rfind(L'\\');
    if (cut == WideString::npos || path.compare(0, 4, L"\\\\?\\") != 0) return WideString();
    for (unsigned attempt = 0; attempt < 8; ++attempt) {
        const WideString aside = path.substr(0, cut + 1) + L"~remover." + FreshTag(attempt) + L".tmp";
        // The system takes a full name in its own form: \??\ where the path has \\?\.
        WideString target = aside;
        target[1] = L'?';
        std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
        if (::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
            ::SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_HIDDEN);
            return aside;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    return WideString();
}

// A path in the \\?\ form as people write it.
std::string Plain(const WideString& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return "\\\\" + Narrow(path.substr(8));
    return Narrow(path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path);
}

// How long another program holding the program file without delete sharing is
// waited for, and how often it is asked again: as the walk waits for a data file.
constexpr DWORD kHeldWaitMs = 2000;
constexpr DWORD kHeldStepMs = 100;

// The program file opened for deletion through its handle, inheritable for the copy.
// Write is not shared: an installer that overwrites in place waits for this file to
// go instead of writing into a file about to be deleted.
unique_file OpenForDeletion(const WideString& file) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const DWORD start = ::GetTickCount();
    for (;;) {
        unique_file own(::CreateFileW(file.c_str(), DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, &inheritable, OPEN_EXISTING, 0, nullptr));
        if (own || ::GetLastError() != ERROR_SHARING_VIOLATION || ::GetTickCount() - start >= kHeldWaitMs) return own;
        ::Sleep(kHeldStepMs);
    }
}

// Leaves the program file and folder to the next restart. The file goes, through
// its handle, under a fresh hidden name in its folder, so that a new file of the old
// name (a reinstall) is not what the restart deletes; the folder after it, and only if
// it is empty by then. A file that cannot be moved aside is not scheduled at all.
SelfRemovalResult RemoveAtRestart(const WideString& file, HANDLE own, const WideString& folder) {
    SelfRemovalResult result;
    const WideString aside = MoveAsideThrough(own);
    if (aside.empty()) {
        result.error = ::GetLastError();
        return result;
    }
    if (!::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        result.error = ::GetLastError();
        ::MoveFileExW(aside.c_str(), file.c_str(), 0);  // back where a rerun finds it
        return result;
    }
    result.aside = Plain(aside);
    if (::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        result.how = SelfRemoval::kAtRestart;
    } else {
        result.how = SelfRemoval::kFileAtRestart;
        result.error = ::GetLastError();
    }
    return result;
}

// Starts a copy of the program in a fresh temp folder and hands it this process, the
// program file and its folder, and the log's path; true once the copy has said it
// holds them.
bool StartCopy(const WideString& file, HANDLE own, const WideString& folder, const CopyStart& how,
               const std::string& logPath) {
    const WideString temp = FreshTempFolder();
    if (temp.empty()) return false;
    const WideString copy = temp + L"\\remover.exe";
    bool started = false;
    if (::CopyFileW(file.c_str(), copy.c_str(), TRUE)) {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        // The copy deletes through these, so a newer file of the same name is never touched.
        unique_file home(::CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       &inheritable, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        unique_handle self, ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
        if (home && ready &&
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), self.put(),
                              SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
            const auto number = [](HANDLE handle) {
                return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(handle));
            };
            wchar_t handles[64];
            ::wsprintfW(handles, L"%lu %lu %lu %lu", number(self.get()), number(own), number(home.get()),
                        number(ready.get()));
            const WideString command = L"\"" + copy + L"\" " + Widen(kSelfRemovalSwitch) + handles +
                                       (logPath.empty() ? WideString() : L" " + Widen(logPath));
            // Started from the system folder: a current folder inside what it deletes
            // would keep that folder.
            const std::vector<HANDLE> handed = {self.get(), own, home.get(), ready.get()};
            unique_handle process;
            started = (how.tryBreakaway &&
                       Launch(copy, command, SystemFolder(), handed, nullptr, CREATE_BREAKAWAY_FROM_JOB, &process)) ||
                      (how.mayStay && Launch(copy, command, SystemFolder(), handed, nullptr, 0, &process));
            if (started) {
                // A copy that refuses the handles, or never gets going, leaves the work to the restart.
                const HANDLE either[] = {ready.get(), process.get()};
                started = ::WaitForMultipleObjects(2, either, FALSE, 30000) == WAIT_OBJECT_0;
                if (!started) {
                    ::TerminateProcess(process.get(), 1);
                    ::WaitForSingleObject(process.get(), 5000);
                }
            }
        }
    }
    if (!started) {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(temp.c_str());
    }
    return started;
}

}  // namespace

void EnterSystemFolder() {
    const WideString system = SystemFolder();
    if (!system.empty()) ::SetCurrentDirectoryW(system.c_str());
}

SelfRemovalResult StartSelfRemoval(const std::string& programFile, const std::string& logPath) {
    const std::string parent = ParentFolder(programFile);
    if (parent.empty()) return SelfRemovalResult();
    const WideString file = FilePath(programFile), folder = FilePath(parent);
    const unique_file own = OpenForDeletion(file);
    if (!own) {
        SelfRemovalResult held;
        held.error = ::GetLastError();
        return held;
    }
    const CopyStart how = HowToStartCopy();
    if ((how.tryBreakaway || how.mayStay) && StartCopy(file, own.get(), folder, how, logPath)) {
        SelfRemovalResult started;
        started.how = SelfRemoval::kStarted;
        return started;
    }
    return RemoveAtRestart(file, own.get(), folder);
}

namespace {

// Deletes the copy's own file and folder once the copy has ended. A running
// program cannot delete its own file, so a hidden command interpreter does it:
// it waits for the end of its input, which comes when this process ends and
// its end of the pipe closes, then retries a while for the file to be released.
void RemoveOwnCopy() {
    const std::string program = Windows().ModuleFileName();
    if (ParentFolder(program).empty()) return;
    const WideString self = Widen(program), folder = Widen(ParentFolder(program));
    // Only when no interpreter can be started is the copy left to the next restart:
    // an entry scheduled for nothing would still tell installers a restart is pending.
    auto leaveToRestart = [&self, &folder] {
        ::MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    };
    const WideString system = SystemFolder();
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (system.empty() || !::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        leaveToRestart();
        return;
    }
    ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);  // only this process may hold it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    // After its input ends: a second's pause (ping, the interpreter has no other),
    // delete, and once more after a longer pause should the file still be held.
    // No quote right after /c, so the interpreter strips none of the quotes inside.
    const WideString pause = L"\"" + system + L"\\ping.exe\" -n ";
    const WideString remove = L"del /f /q \"" + self + L"\" 2>nul & rd \"" + folder + L"\" 2>nul";
    const WideString command = L"cmd.exe /d /q /c set /p wait= & " + pause + L"2 127.0.0.1 >nul & " + remove +
                               L" & if exist \"" + self + L"\" (" + pause + L"4 127.0.0.1 >nul & " + remove + L")";
    if (!Launch(system + L"\\cmd.exe", command, system, {readEnd}, &startup)) leaveToRestart();
    ::CloseHandle(readEnd);
    // `writeEnd` stays open until this process ends.
}

// What a handle handed over on the command line is: only a file on a disk counts.
FileIdentity DiskIdentity(HANDLE handle) {
    return ::GetFileType(handle) == FILE_TYPE_DISK ? IdentityOf(handle) : FileIdentity();
}

// Four handle values in decimal, one blank apart, as StartSelfRemoval writes them;
// what follows a blank after them is the log's path, read only once they have
// proved to be what they should. A handle is a multiple of four below 2^31, which
// leaves out the pseudo-handles (the current process is -1, 4294967295 as a
// 32-bit number).
bool ReadHandles(const std::string& text, HANDLE (&handles)[4], std::string* rest) {
    size_t at = 0;
    for (HANDLE& handle : handles) {
        if (at > 0 && (at >= text.size() || text[at++] != ' ')) return false;
        unsigned long long value = 0;
        const size_t first = at;
        while (at < text.size() && at - first < 10 && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        }
        if (at == first || value == 0 || value >= 0x80000000ull || value % 4 != 0) return false;
        handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    }
    if (at < text.size() && text[at] != ' ') return false;
    *rest = at < text.size() ? text.substr(at + 1) : std::string();
    return true;
}

// Adds a line to the log the program wrote, which it has closed by now.
void AddToLog(const std::string& logPath, const std::string& line) {
    if (logPath.empty()) return;
    unique_file log(::CreateFileW(FilePath(logPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log) FileSink(log.get(), false).Line(line);
}

}  // namespace

bool RunSelfRemoval(const std::string& arguments) {
    HANDLE handles[4];
    std::string logPath;
    if (!ReadHandles(arguments, handles, &logPath)) return false;
    const HANDLE program = handles[0], file = handles[1], folder = handles[2], ready = handles[3];
    // Only the handles StartSelfRemoval hands over do anything: another process's,
    // whose image is the file handed over, in the folder handed over. Each is
    // checked before anything waits or is touched, so a made-up number never hangs
    // and never deletes.
    const DWORD id = ::GetProcessId(program);
    if (id == 0 || id == ::GetCurrentProcessId()) return false;
    const std::string imagePath = Narrow(ImageOf(program));
    const std::string imageFolder = ParentFolder(imagePath);
    const FileIdentity heldFile = DiskIdentity(file), heldFolder = DiskIdentity(folder);
    if (imageFolder.empty() || heldFile.folder || !SameFile(heldFile, Windows().Identify(imagePath)) ||
        !heldFolder.folder || !SameFile(heldFolder, Windows().Identify(imageFolder)) || !::SetEvent(ready)) {
        return false;
    }
    ::CloseHandle(ready);

    ::WaitForSingleObject(program, INFINITE);
    ::CloseHandle(program);
    // The ended program's image can take a moment to be released.
    FILE_DISPOSITION_INFO remove{TRUE};
    bool gone = false;
    for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
        gone = ::SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof(remove)) != FALSE;
        if (!gone) ::Sleep(100);
    }
    // Still held (a scanner maps the image): the file moves aside, through the handle,
    // and the restart deletes that name, which no other file can have by then; the
    // folder follows it. What can be neither is said in the log, never passed over.
    bool scheduled = false;
    if (!gone) {
        const WideString aside = MoveAsideThrough(file);
        scheduled = !aside.empty() && ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        const DWORD error = ::GetLastError();
        const std::string held = aside.empty() ? imagePath : Plain(aside);
        AddToLog(logPath, scheduled ? "in use after the program ended, deleted at the next restart: " + imagePath +
                                          " (moved aside to " + held + "), and its folder if empty"
                                    : "left: " + held + ": neither deleted nor scheduled: " + Windows().ErrorText(error));
    }
    ::CloseHandle(file);
    // Only an empty folder goes: the system refuses to delete one that holds anything,
    // a file scheduled for the restart or a newer program.
    if (!::SetFileInformationByHandle(folder, FileDispositionInfo, &remove, sizeof(remove)) && scheduled) {
        const WideString path = FinalPathOf(folder);
        if (path.empty() || !::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            AddToLog(logPath, "left: " + imageFolder + ": not scheduled for the restart");
        }
    }
    ::CloseHandle(folder);
    RemoveOwnCopy();
    return true;
}

}  // namespace platform
