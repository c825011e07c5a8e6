#include "platform/program_win.h"

#include <cstdlib>

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

// FNV-1a over the product name with ASCII letters folded, as the file system
// folds them: one tag per product, whatever the case of its manifest's name.
uint32_t ProductTag(const std::string& product) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : product) {
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

ProductLock::ProductLock(const std::string& product) : tag_(ProductTag(product)) {
    // Global: a removal in another session of the same machine counts too.
    wchar_t name[64];
    ::wsprintfW(name, L"Global\\Drevik.Remover.%08X", tag_);
    mutex_ = ::CreateMutexW(nullptr, TRUE, name);
    taken_ = mutex_ != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

ProductLock::~ProductLock() {
    if (!mutex_) return;
    if (!taken_) ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
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

// A new folder of our own under the temp folder; empty when none can be made.
WideString FreshTempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return WideString();
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        wchar_t name[64];
        ::wsprintfW(name, L"Drevik.Remover.%08X%04X", ::GetTickCount() ^ (::GetCurrentProcessId() << 16), attempt);
        WideString folder = WideString(temp, length) + name;
        if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return WideString();
}

bool Launch(const WideString& program, WideString command, const WideString& folder, BOOL inherit,
            STARTUPINFOW* startup) {
    STARTUPINFOW plain{};
    plain.cb = sizeof(plain);
    PROCESS_INFORMATION info{};
    command.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, inherit, CREATE_NO_WINDOW, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), startup ? startup : &plain, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return true;
}

}  // namespace

bool StartSelfRemoval(const std::string& programFile) {
    const WideString folder = FreshTempFolder();
    if (folder.empty()) return false;
    const WideString copy = folder + L"\\remover.exe";
    HANDLE self = nullptr;
    if (!::CopyFileW(FilePath(programFile).c_str(), copy.c_str(), TRUE) ||
        !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), &self, SYNCHRONIZE,
                           TRUE, 0)) {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(folder.c_str());
        return false;
    }
    wchar_t handle[32];
    ::wsprintfW(handle, L"%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(self)));
    const WideString command =
        L"\"" + copy + L"\" " + Widen(kSelfRemovalSwitch) + handle + L" \"" + Widen(programFile) + L"\"";
    // Started from the system folder: a current folder inside what it deletes
    // would keep that folder.
    const bool started = Launch(copy, command, SystemFolder(), TRUE, nullptr);
    ::CloseHandle(self);
    if (!started) {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
    return started;
}

namespace {

// Deletes the copy's own file and folder once the copy has ended. A running
// program cannot delete its own file, so a hidden command interpreter does it:
// it waits for the end of its input, which comes when this process ends and
// its end of the pipe closes, then retries a while for the file to be released.
void RemoveOwnCopy() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const WideString self(buffer, length);
    const WideString folder = self.substr(0, self.rfind(L'\\'));
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
    if (!Launch(system + L"\\cmd.exe", command, system, TRUE, &startup)) leaveToRestart();
    ::CloseHandle(readEnd);
    // `writeEnd` stays open until this process ends.
}

}  // namespace

int RunSelfRemoval(const std::string& arguments) {
    // "<handle of the program's process> "<program file>""
    char* rest = nullptr;
    const unsigned long value = std::strtoul(arguments.c_str(), &rest, 10);
    const std::string tail = rest ? rest : "";
    const size_t open = tail.find('"'), close = tail.rfind('"');
    if (value == 0 || open == std::string::npos || close <= open) return 1;
    const std::string programFile = tail.substr(open + 1, close - open - 1);
    const std::string::size_type cut = programFile.rfind('\\');
    if (cut == std::string::npos) return 1;

    HANDLE program = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    ::WaitForSingleObject(program, INFINITE);
    ::CloseHandle(program);

    // The ended program's file can take a moment to be released.
    const WideString file = FilePath(programFile);
    const WideString folder = FilePath(programFile.substr(0, cut));
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::DeleteFileW(file.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) break;
        ::Sleep(100);
    }
    // Only an empty folder goes; what was scheduled keeps it until the restart.
    ::RemoveDirectoryW(folder.c_str());
    RemoveOwnCopy();
    return 0;
}

}  // namespace platform
