// Times one removal for scripts/bench_silent.sh, inside Wine, so that the figures hold
// no cost of starting Wine from the shell. Prints "<seconds> <exit code>".
//   ok EXE MANIFEST      starts EXE MANIFEST, presses OK in its dialog and times until
//                        its completion message box (卸载成功) shows; then closes it
//   silent EXE MANIFEST  times EXE /S MANIFEST from process start to process exit
//   start                times starting and ending a program that does nothing
//   noop                 that program
//   desktop              keeps Wine's desktop up until ended (see Desktop below)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kCompletionCaption[] = L"\u5378\u8F7D\u6210\u529F";  // 卸载成功
const DWORD kPatienceMs = 120000;

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

// Started from the system folder, as a deployment tool would: a current folder
// inside the program folder would keep that folder from going.
bool Start(const std::wstring& exe, const std::wstring& arguments, PROCESS_INFORMATION* info) {
    std::wstring command = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    command.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const std::wstring folder = SystemFolder();
    return ::CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            folder.empty() ? nullptr : folder.c_str(), &startup, info) != FALSE;
}

struct Search {
    DWORD process;
    const wchar_t* caption;  // null: any caption
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search.process || !::IsWindowVisible(window)) return TRUE;
    wchar_t name[32] = {};
    ::GetClassNameW(window, name, 32);
    if (std::wcscmp(name, L"#32770") != 0) return TRUE;
    if (search.caption) {
        wchar_t text[64] = {};
        ::GetWindowTextW(window, text, 64);
        if (std::wcscmp(text, search.caption) != 0) return TRUE;
    }
    search.found = window;
    return FALSE;
}

// Polls every millisecond or so: the window's appearance is what is timed.
HWND WaitForDialog(HANDLE process, DWORD id, const wchar_t* caption, HWND except) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < kPatienceMs) {
        Search search{id, caption, nullptr};
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found && search.found != except) return search.found;
        if (::WaitForSingleObject(process, 1) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

void PressOk(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

DWORD Finish(PROCESS_INFORMATION& info) {
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(info.hProcess, kPatienceMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return code;
}

int TimeOk(const std::wstring& exe, const std::wstring& manifest) {
    PROCESS_INFORMATION info{};
    if (!Start(exe, manifest, &info)) {
        std::fprintf(stderr, "cannot start the program: error %lu\n", ::GetLastError());
        return 2;
    }
    ::WaitForInputIdle(info.hProcess, 10000);
    HWND dialog = WaitForDialog(info.hProcess, info.dwProcessId, nullptr, nullptr);
    if (!dialog) {
        std::fprintf(stderr, "no dialog appeared\n");
        ::TerminateProcess(info.hProcess, 1);
        Finish(info);
        return 2;
    }
    // As a person would: the dialog has drawn and waits before OK is pressed.
    ::Sleep(500);
    const LARGE_INTEGER pressed = Now();
    PressOk(dialog);
    HWND done = WaitForDialog(info.hProcess, info.dwProcessId, kCompletionCaption, dialog);
    const LARGE_INTEGER shown = Now();
    if (!done) {
        std::fprintf(stderr, "no completion message appeared\n");
        ::TerminateProcess(info.hProcess, 1);
        Finish(info);
        return 2;
    }
    PressOk(done);
    const DWORD code = Finish(info);
    std::printf("%.4f %lu\n", Seconds(pressed, shown), code);
    return code == STILL_ACTIVE ? 2 : 0;
}

int TimeRun(const std::wstring& exe, const std::wstring& arguments) {
    PROCESS_INFORMATION info{};
    const LARGE_INTEGER started = Now();
    if (!Start(exe, arguments, &info)) {
        std::fprintf(stderr, "cannot start the program: error %lu\n", ::GetLastError());
        return 2;
    }
    const bool ended = ::WaitForSingleObject(info.hProcess, kPatienceMs) == WAIT_OBJECT_0;
    const LARGE_INTEGER exited = Now();
    const DWORD code = Finish(info);
    if (!ended) {
        std::fprintf(stderr, "the program did not end\n");
        return 2;
    }
    std::printf("%.4f %lu\n", Seconds(started, exited), code);
    return 0;
}

std::wstring OwnFile() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

// Wine ends its desktop process a second or two after the last program with windows
// ends, and the next one starts it again (about 0.2 s). Windows' desktop is always
// up; so is this one while this process runs.
int Desktop() {
    ::GetDesktopWindow();
    ::Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"noop") return 0;
    if (mode == L"start") return TimeRun(OwnFile(), L"noop");
    if (mode == L"desktop") return Desktop();
    if (mode == L"ok" && argc == 4) return TimeOk(argv[2], argv[3]);
    if (mode == L"silent" && argc == 4) return TimeRun(argv[2], L"/S " + std::wstring(argv[3]));
    std::fprintf(stderr, "usage: bench_silent_driver ok|silent EXE MANIFEST | start | desktop\n");
    return 2;
}
