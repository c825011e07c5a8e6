#include "platform/program_win.h"

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

bool Launch(const WideString& program, WideString command, const WideString& folder, BOOL inherit,
            STARTUPINFOW* startup, DWORD flags = 0, unique_handle* process = nullptr) {
    STARTUPINFOW plain{};
    plain.cb = sizeof(plain);
    PROCESS_INFORMATION info{};
    command.push_back(L'\0');
    if (!::CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, inherit, CREATE_NO_WINDOW | flags, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), startup ? startup : &plain, &info)) {
        return false;
    }
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

// Leaves the program file and folder to the next restart. The file goes under a fresh
// hidden name in its folder, so that a new file of the old name (a reinstall) is not
// what the restart deletes; the folder after it, and only if it is empty by then.
SelfRemoval RemoveAtRestart(const WideString& file, const WideString& folder) {
    const std::string aside = Windows().MoveAside(Narrow(file));
    const WideString target = aside.empty() ? file : FilePath(aside);
    if (!::MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        if (target != file) ::MoveFileExW(target.c_str(), file.c_str(), 0);
        return SelfRemoval::kFailed;
    }
    return ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? SelfRemoval::kAtRestart
                                                                                : SelfRemoval::kFailed;
}

// Starts a copy of the program in a fresh temp folder and hands it this process, the
// program file and its folder; true once the copy has said it holds them.
bool StartCopy(const WideString& file, const WideString& folder, const CopyStart& how) {
    const WideString temp = FreshTempFolder();
    if (temp.empty()) return false;
    const WideString copy = temp + L"\\remover.exe";
    bool started = false;
    if (::CopyFileW(file.c_str(), copy.c_str(), TRUE)) {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        // The copy deletes through these, so a newer file of the same name is never
        // touched. Write is not shared: an installer that overwrites in place waits
        // for this file to go instead of writing into a file about to be deleted.
        unique_file own(::CreateFileW(file.c_str(), DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, &inheritable, OPEN_EXISTING, 0, nullptr));
        unique_file home(::CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       &inheritable, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        unique_handle self, ready(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
        if (own && home && ready &&
            ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), self.put(),
                              SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0)) {
            const auto number = [](HANDLE handle) {
                return static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(handle));
            };
            wchar_t handles[64];
            ::wsprintfW(handles, L"%lu %lu %lu %lu", number(self.get()), number(own.get()), number(home.get()),
                        number(ready.get()));
            const WideString command = L"\"" + copy + L"\" " + Widen(kSelfRemovalSwitch) + handles;
            // Started from the system folder: a current folder inside what it deletes
            // would keep that folder.
            unique_handle process;
            started = (how.tryBreakaway &&
                       Launch(copy, command, SystemFolder(), TRUE, nullptr, CREATE_BREAKAWAY_FROM_JOB, &process)) ||
                      (how.mayStay && Launch(copy, command, SystemFolder(), TRUE, nullptr, 0, &process));
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

SelfRemoval StartSelfRemoval(const std::string& programFile) {
    const WideString file = FilePath(programFile);
    const WideString::size_type cut = file.rfind(L'\\');
    if (programFile.empty() || cut == WideString::npos) return SelfRemoval::kFailed;
    const WideString folder = file.substr(0, cut);
    const CopyStart how = HowToStartCopy();
    if ((how.tryBreakaway || how.mayStay) && StartCopy(file, folder, how)) return SelfRemoval::kStarted;
    return RemoveAtRestart(file, folder);
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

// A file or folder by what it is, not by its name.
struct Identity {
    DWORD volume = 0, high = 0, low = 0;
    bool folder = false;
    bool operator==(const Identity& other) const {
        return volume == other.volume && high == other.high && low == other.low && folder == other.folder;
    }
};

bool IdentityOf(HANDLE handle, Identity* identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info)) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->high = info.nFileIndexHigh;
    identity->low = info.nFileIndexLow;
    identity->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool IdentityOf(const std::string& path, Identity* identity) {
    unique_file handle(::CreateFileW(FilePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle && IdentityOf(handle.get(), identity);
}

// Four handle values in decimal, one blank apart, as StartSelfRemoval writes them;
// what follows a blank after them is not read. A handle is a multiple of four below
// 2^31, which leaves out the pseudo-handles (the current process is -1, 4294967295
// as a 32-bit number).
bool ReadHandles(const std::string& text, HANDLE (&handles)[4]) {
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
    return at == text.size() || text[at] == ' ';
}

}  // namespace

bool RunSelfRemoval(const std::string& arguments) {
    HANDLE handles[4];
    if (!ReadHandles(arguments, handles)) return false;
    const HANDLE program = handles[0], file = handles[1], folder = handles[2], ready = handles[3];
    // Only the handles StartSelfRemoval hands over do anything: another process's,
    // whose image is the file handed over, in the folder handed over. Each is
    // checked before anything waits or is touched, so a made-up number never hangs
    // and never deletes.
    const DWORD id = ::GetProcessId(program);
    if (id == 0 || id == ::GetCurrentProcessId()) return false;
    WideString image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(program, 0, &image[0], &length)) return false;
    const std::string imagePath = Narrow(image.data(), length);
    const std::string::size_type cut = imagePath.rfind('\\');
    Identity heldFile, heldFolder, namedFile, namedFolder;
    if (cut == std::string::npos || !IdentityOf(file, &heldFile) || heldFile.folder ||
        !IdentityOf(imagePath, &namedFile) || !(heldFile == namedFile) || !IdentityOf(folder, &heldFolder) ||
        !heldFolder.folder || !IdentityOf(imagePath.substr(0, cut), &namedFolder) || !(heldFolder == namedFolder) ||
        !::SetEvent(ready)) {
        return false;
    }
    ::CloseHandle(ready);

    ::WaitForSingleObject(program, INFINITE);
    ::CloseHandle(program);
    // The ended program's image can take a moment to be released.
    FILE_DISPOSITION_INFO remove{TRUE};
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::SetFileInformationByHandle(file, FileDispositionInfo, &remove, sizeof(remove))) break;
        ::Sleep(100);
    }
    ::CloseHandle(file);
    // Only an empty folder goes: the system refuses to delete one that holds anything,
    // a file scheduled for the restart or a newer program.
    ::SetFileInformationByHandle(folder, FileDispositionInfo, &remove, sizeof(remove));
    ::CloseHandle(folder);
    RemoveOwnCopy();
    return true;
}

}  // namespace platform
