// The program's own file and folder, removed once the program has ended.
#include "platform/self_removal_win.h"

#include <vector>

#include "platform/files_win.h"
#include "platform/log_win.h"
#include "platform/platform_win.h"
#include "platform/processes_win.h"
#include "platform/shell_win.h"
#include "platform/text.h"

namespace platform {

const char kSelfRemovalSwitch[] = "/~selfremoval=";

namespace {

// A new folder of our own under the temp folder; empty when none can be made.
WideString FreshTempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) return WideString();
    for (int attempt = 0; attempt < 16; ++attempt) {
        WideString folder = WideString(temp, length) + Widen(FreshName("Drevik.Remover.", ""));
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
    unique_handle thread(info.hThread), created(info.hProcess);
    if (process) *process = std::move(created);
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
    WideString aside;
    if (!RenameAside(own, nullptr, &aside)) {
        result.error = ::GetLastError();
        return result;
    }
    if (!::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        result.error = ::GetLastError();
        ::MoveFileExW(aside.c_str(), file.c_str(), 0);  // back where a rerun finds it
        return result;
    }
    result.aside = PlainPath(aside);
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
            char handles[64];
            ::wsprintfA(handles, "%s%lu %lu %lu %lu", kSelfRemovalSwitch, number(self.get()), number(own),
                        number(home.get()), number(ready.get()));
            const std::string copyText = Narrow(copy), handed = handles;
            const WideString command =
                Widen(Format(logPath.empty() ? "\"%s\" %s" : "\"%s\" %s %s", {&copyText, &handed, &logPath}));
            // Started from the system folder: a current folder inside what it deletes
            // would keep that folder.
            const std::vector<HANDLE> inherited = {self.get(), own, home.get(), ready.get()};
            unique_handle process;
            started = (how.tryBreakaway && Launch(copy, command, SystemFolder(), inherited, nullptr,
                                                  CREATE_BREAKAWAY_FROM_JOB, &process)) ||
                      (how.mayStay && Launch(copy, command, SystemFolder(), inherited, nullptr, 0, &process));
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
    unique_handle readEnd;
    HANDLE writeEnd = nullptr;  // never closed: open until this process ends
    if (system.empty() || !::CreatePipe(readEnd.put(), &writeEnd, &inheritable, 0)) {
        leaveToRestart();
        return;
    }
    ::SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);  // only this process may hold it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd.get();
    // After its input ends: a second's pause (ping, the interpreter has no other),
    // delete, and once more after a longer pause should the file still be held.
    // No quote right after /c, so the interpreter strips none of the quotes inside.
    const std::string folderText = ParentFolder(program), systemText = Narrow(system);
    const std::string pause = Format("\"%s\\ping.exe\" -n ", {&systemText});
    const std::string remove = Format("del /f /q \"%s\" 2>nul & rd \"%s\" 2>nul", {&program, &folderText});
    const std::string command =
        Format("cmd.exe /d /q /c set /p wait= & %s2 127.0.0.1 >nul & %s & if exist \"%s\" (%s4 127.0.0.1 >nul & %s)",
               {&pause, &remove, &program, &pause, &remove});
    if (!Launch(system + L"\\cmd.exe", Widen(command), system, {readEnd.get()}, &startup)) leaveToRestart();
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
    // Proved to be what was handed over: ours to close, each once its part is done.
    unique_handle told(ready), running(program), held(file), home(folder);
    told.reset();

    ::WaitForSingleObject(running.get(), INFINITE);
    running.reset();
    // The ended program's image can take a moment to be released.
    FILE_DISPOSITION_INFO remove{TRUE};
    bool gone = false;
    for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
        gone = ::SetFileInformationByHandle(held.get(), FileDispositionInfo, &remove, sizeof(remove)) != FALSE;
        if (!gone) ::Sleep(100);
    }
    // Still held (a scanner maps the image): the file moves aside, through the handle,
    // and the restart deletes that name, which no other file can have by then; the
    // folder follows it. What can be neither is said in the log, never passed over.
    bool scheduled = false;
    if (!gone) {
        WideString aside;
        scheduled = RenameAside(held.get(), nullptr, &aside) &&
                    ::MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        const DWORD error = ::GetLastError();
        const std::string left = aside.empty() ? imagePath : PlainPath(aside);
        if (scheduled) {
            AppendToLog(logPath, Format("in use after the program ended, deleted at the next restart: %s (moved aside "
                                        "to %s), and its folder if empty",
                                        {&imagePath, &left}));
        } else {
            const std::string why = Windows().ErrorText(error);
            AppendToLog(logPath, Format("left: %s: neither deleted nor scheduled: %s", {&left, &why}));
        }
    }
    held.reset();
    // Only an empty folder goes: the system refuses to delete one that holds anything,
    // a file scheduled for the restart or a newer program.
    if (!::SetFileInformationByHandle(home.get(), FileDispositionInfo, &remove, sizeof(remove))) {
        const std::string why = Windows().ErrorText(::GetLastError());
        const WideString path = scheduled ? FinalPathOf(home.get()) : WideString();
        if (path.empty() || !::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            // Something came into it meanwhile, or stays there: said, never passed over.
            AppendToLog(logPath, Format(scheduled ? "left: %s: not scheduled for the restart" : "left: %s: %s",
                                        {&imageFolder, &why}));
        }
    }
    home.reset();
    RemoveOwnCopy();
    return true;
}

}  // namespace platform
