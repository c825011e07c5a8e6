// Test helpers for real Windows behaviour: scratch folders, files, and a driver that
// starts remover.exe and works its windows from outside, as a user would.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace testwin {

// A fresh, empty folder C:\remover-tests\<name> (whatever was there is deleted).
std::string ScratchFolder(const std::string& name);
// The folder of the running test program, and of the build output above it.
std::string TestProgramFolder();
std::string BuildFolder();

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
void MakeFolders(const std::string& path);
// Every path below `root` (relative, folders with a trailing backslash) with its size.
std::map<std::string, long long> Snapshot(const std::string& root);
// Deletes a tree with plain Win32 calls (test clean-up only).
void DeleteTree(const std::string& path);
// UTF-8 -> code page 936 bytes (test files are written in UTF-8).
std::string Utf8ToAnsi(const std::string& utf8);
std::string Utf8ToUtf16Bytes(const std::string& utf8, bool bom);

// The real program, running.
class Program {
public:
    // Starts `exe` with `arguments` appended after its quoted path.
    Program(const std::string& exe, const std::string& arguments);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    DWORD processId() const { return info_.dwProcessId; }
    // The first visible top-level dialog of the process whose caption satisfies
    // `wanted` (any caption when empty); null after the time-out.
    HWND WaitForDialog(const std::string& caption = std::string(), DWORD timeoutMs = 20000) const;
    std::vector<HWND> TopLevelWindows() const;
    // True when the process ended within the time-out.
    bool WaitForExit(DWORD timeoutMs = 20000) const;
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION info_{};
};

std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
// Clicks a dialog button the way the dialog manager reports it.
void PressButton(HWND dialog, int id);

}  // namespace testwin
