#include "platform/platform_win.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "platform/dom_win.h"
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

class WinProcess : public Process {
public:
    explicit WinProcess(const PROCESS_INFORMATION& info) : process_(info.hProcess), thread_(info.hThread) {}
    ~WinProcess() override {
        thread_.reset();
        process_.reset();
    }
    void WaitForExitOr(Event& event) override {
        const HANDLE handles[2] = {static_cast<WinEvent&>(event).get(), process_.get()};
        ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }
    uint32_t ExitCode(uint32_t fallback) override {
        DWORD code = fallback;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    unique_handle process_;
    unique_handle thread_;
};

class WinFolderEnumeration : public FolderEnumeration {
public:
    explicit WinFolderEnumeration(const std::string& pattern) {
        find_.reset(::FindFirstFileA(pattern.c_str(), &data_));
        pending_ = static_cast<bool>(find_);
    }
    bool Next(FolderEntry* entry) override {
        if (!pending_) return false;
        entry->name = data_.cFileName;
        entry->directory = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry->reparsePoint = (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry->protectedBits =
            (data_.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
        pending_ = ::FindNextFileA(find_.get(), &data_) != FALSE;
        return true;
    }

private:
    unique_find find_;
    WIN32_FIND_DATAA data_{};
    bool pending_ = false;
};

std::string ShellPath(int csidl) {
    char buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE)) return std::string();
    return buffer;
}

std::string EnvironmentPath(const char* name) {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, buffer, MAX_PATH);
    return (length > 0 && length < MAX_PATH) ? std::string(buffer, length) : std::string();
}

}  // namespace

WindowsPlatform::WindowsPlatform(const CLSID* domClass) : domClass_(domClass ? domClass : &kClsidDomDocument) {}

WindowsPlatform& Windows() {
    static WindowsPlatform instance;
    return instance;
}

std::string WindowsPlatform::ModuleFileName() {
    char buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, length < MAX_PATH ? length : MAX_PATH - 1);
}

bool WindowsPlatform::SpecialFolder(ShellFolder which, std::string* path) {
    std::string found = ShellPath(which == ShellFolder::kPrograms ? CSIDL_PROGRAMS : CSIDL_DESKTOP);
    if (found.empty()) return false;
    *path = std::move(found);
    return true;
}

std::unique_ptr<XmlSession> WindowsPlatform::OpenXml() { return OpenMsxml(*domClass_); }

bool WindowsPlatform::ResetAttributes(const std::string& path) {
    return ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool WindowsPlatform::RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != FALSE; }

bool WindowsPlatform::RemoveFolder(const std::string& path) { return ::RemoveDirectoryA(path.c_str()) != FALSE; }

std::unique_ptr<FolderEnumeration> WindowsPlatform::FindFiles(const std::string& pattern) {
    return std::unique_ptr<FolderEnumeration>(new WinFolderEnumeration(pattern));
}

bool WindowsPlatform::IsLink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::string WindowsPlatform::CanonicalPath(const std::string& path) {
    char full[MAX_PATH] = {};
    DWORD length = ::GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return path;
    char longer[MAX_PATH] = {};
    const DWORD longLength = ::GetLongPathNameA(full, longer, MAX_PATH);
    std::string result = (longLength > 0 && longLength < MAX_PATH) ? std::string(longer, longLength)
                                                                   : std::string(full, length);
    while (result.size() > 3 && result.back() == '\\') result.pop_back();
    return result;
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
    for (const char* name : {"ProgramW6432", "CommonProgramW6432", "ProgramFiles", "ProgramData", "SystemRoot",
                             "USERPROFILE", "PUBLIC", "ALLUSERSPROFILE"}) {
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
        if (!folder.empty()) result.push_back(CanonicalPath(folder));
    }
    return result;
}

std::unique_ptr<Event> WindowsPlatform::NewEvent() {
    HANDLE h = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
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

void WindowsPlatform::WaitOnUiThread(Event& event) {
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
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        for (int i = 0; i < 16 && ::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
            ::DispatchMessageA(&msg);
        }
    }
}

std::unique_ptr<Process> WindowsPlatform::StartProcess(std::string& commandLine, uint32_t* error) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION info{};
    commandLine.push_back('\0');  // CreateProcessA may write into the buffer
    const BOOL started = ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                                          nullptr, nullptr, &startup, &info);
    commandLine.pop_back();
    if (!started) {
        *error = ::GetLastError();
        return nullptr;
    }
    return std::unique_ptr<Process>(new WinProcess(info));
}

void WindowsPlatform::DeleteRegistryTree(const std::string& key) { ::SHDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()); }

void WindowsPlatform::DiscardQueuedInput() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

void WindowsPlatform::ShowMessage(WindowRef owner, const std::string& text, const std::string& caption) {
    ::MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), MB_OK);
}

}  // namespace platform
