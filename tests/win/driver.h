// Test helpers for real Windows behaviour: scratch folders, files, and a driver that
// starts remover.exe and works its windows from outside, as a user would.
// Every string is UTF-8 and every Windows call the wide one, as in the program.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testwin {

// The registry view the program under test sees: the tests are built for the same
// Windows as the program (32-bit, or 64-bit where Wine cannot start 32-bit programs).
constexpr REGSAM kProgramView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// A path for the file functions: absolute paths get the \\?\ prefix, so long and
// odd names are reached exactly.
std::wstring LongPath(const std::string& path);

// A fresh, empty folder C:\remover-tests\<name> (whatever was there is deleted).
std::string ScratchFolder(const std::string& name);
// The folder of the running test program, and of the build output above it.
std::string TestProgramFolder();
std::string BuildFolder();

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
bool CopyTo(const std::string& from, const std::string& to);
void MakeFolders(const std::string& path);
// Every path below `root` (relative, folders with a trailing backslash) with its size.
std::map<std::string, long long> Snapshot(const std::string& root);
// Deletes a tree with plain Win32 calls (test clean-up only); links are not entered.
void DeleteTree(const std::string& path);
std::string Utf8ToUtf16Bytes(const std::string& utf8, bool bom);

// The current user's shell folder (created when missing).
std::string ShellFolder(int csidl);
// Keys below HKEY_LOCAL_MACHINE, in the program's registry view; MakeKey sets
// DisplayName when `displayName` is not empty.
bool KeyExists(const std::string& path, HKEY hive = HKEY_LOCAL_MACHINE);
bool MakeKey(const std::string& path, const std::string& displayName = std::string());
// Creates the key when missing and sets one text value (none when `name` is empty).
bool SetKeyText(const std::string& path, const std::string& name, const std::string& value,
                HKEY hive = HKEY_LOCAL_MACHINE);
// A real shell link (.lnk) to `target`, as installers write them.
bool MakeShortcut(const std::string& link, const std::string& target);

// Has the harness's swapper (swapper.py, outside Wine, which alone can make links)
// carry out `orders`, one a line; with a time-out, waits until it has.
bool Swap(const std::string& name, const std::string& orders, DWORD timeoutMs = 0);
bool SwapDone(const std::string& name, DWORD timeoutMs);

// The real program, running.
class Program {
public:
    // Starts `exe` with `arguments` appended after its quoted path, in `folder`
    // (the test's own current folder when empty), inside `job` when one is given,
    // its standard output on `output` (inheritable) when one is given.
    Program(const std::string& exe, const std::string& arguments, const std::string& folder = std::string(),
            HANDLE job = nullptr, HANDLE output = nullptr);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    DWORD processId() const { return info_.dwProcessId; }
    // The first visible top-level dialog of the process, other than `except`, with
    // this caption (any caption when empty); null after the time-out.
    HWND WaitForDialog(const std::string& caption = std::string(), DWORD timeoutMs = 20000,
                       HWND except = nullptr) const;
    std::vector<HWND> TopLevelWindows() const;
    // True when the process ended within the time-out.
    bool WaitForExit(DWORD timeoutMs = 20000) const;
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION info_{};
};

// Watches a dialog of another process from a thread of its own until stopped: how
// long the dialog takes to answer (WM_NULL), where its progress bar stands, and
// whether it lets the session end while the bar is short of its end.
class DialogWatch {
public:
    DialogWatch(HWND dialog, DWORD timeoutMs);
    ~DialogWatch();
    void Stop();
    DWORD longestGapMs = 0;
    std::vector<int> positions;  // each position the bar was seen at, in order
    int maximum = -1;
    int endSessionRefused = 0, endSessionAllowed = 0;

private:
    static DWORD WINAPI Run(void* watch);
    HWND dialog_;
    DWORD timeoutMs_;
    volatile LONG stop_ = 0;
    HANDLE thread_;
};

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// Whether a message box shows an icon (a warning has one, a plain message none).
bool ShowsIcon(HWND box);
// Clicks a dialog button the way the dialog manager reports it.
void PressButton(HWND dialog, int id);

}  // namespace testwin
