// Processes and threads: the module uninstallers started and waited for, the
// programs running, events, and waits that keep a window answering.
#include "platform/processes_win.h"

#include <tlhelp32.h>

#include "platform/platform_win.h"

namespace platform {

namespace {

class WinEvent : public Event {
public:
    explicit WinEvent(unique_handle handle) : handle_(std::move(handle)) {}
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
    WinProcess(const PROCESS_INFORMATION& info, unique_handle job)
        : process_(info.hProcess), thread_(info.hThread), job_(std::move(job)), id_(info.dwProcessId) {}
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

}  // namespace

WideString ImageOf(HANDLE process) {
    return GrownText([process](wchar_t* buffer, DWORD size) -> DWORD {
        DWORD length = size;
        if (::QueryFullProcessImageNameW(process, 0, buffer, &length)) return length;
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
    });
}

std::unique_ptr<Event> WindowsPlatform::NewEvent() {
    unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) throw std::bad_alloc();
    return std::unique_ptr<Event>(new WinEvent(std::move(event)));
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
    return std::unique_ptr<Process>(new WinProcess(info, std::move(job)));
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

void WindowsPlatform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
