// A stand-in module uninstaller for tests. Appends its program path and command line
// (UTF-8, so any name shows exactly) to the file named by REMOVER_TEST_LOG, then acts
// on ';'-separated words in its arguments: exit=N, sleep=MS, broadcast (sends a
// message to every top-level window and waits for the answers), delete=PATH (a file
// to delete, like an uninstaller that removes its own files), acp (logs the ANSI
// code page the process runs under), hold=PATH (keeps the file open without
// FILE_SHARE_DELETE until the process ends, as a running client holds its DLLs),
// run=PATH (starts PATH with the rest of the arguments, logs "started <id>" and
// goes no further), load=PATH (maps PATH as a DLL until the process ends, as a
// running client holds its libraries), relaunch (the same with a copy of itself in the temp folder, as
// NSIS uninstallers hand their work on).
#include <windows.h>

#include <cstdlib>
#include <string>

static std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, nullptr, nullptr);
    text.pop_back();
    return text;
}

static std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], n);
    text.pop_back();
    return text;
}

static void Log(const std::string& line) {
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"REMOVER_TEST_LOG", path, MAX_PATH)) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

int main() {
    static wchar_t selfWide[32768];
    GetModuleFileNameW(nullptr, selfWide, 32768);
    const std::string self = Utf8(selfWide);
    const std::string command = Utf8(GetCommandLineW());
    Log("begin " + self + " | " + command);
    int code = 0;
    size_t pos = 0;
    while (pos < command.size()) {
        size_t end = command.find_first_of("; \"", pos);
        if (end == std::string::npos) end = command.size();
        const std::string word = command.substr(pos, end - pos);
        pos = end + 1;
        if (word.compare(0, 5, "exit=") == 0) code = std::atoi(word.c_str() + 5);
        if (word.compare(0, 6, "sleep=") == 0) Sleep(static_cast<DWORD>(std::atoi(word.c_str() + 6)));
        if (word.compare(0, 7, "delete=") == 0) DeleteFileW(Wide(word.substr(7)).c_str());
        if (word == "acp") Log("acp=" + std::to_string(GetACP()));
        if (word.compare(0, 5, "load=") == 0) {
            const HMODULE loaded = LoadLibraryExW(Wide(word.substr(5)).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
            Log(loaded ? "loaded" : "load failed");
        }
        if (word.compare(0, 5, "hold=") == 0) {
            const HANDLE held = CreateFileW(Wide(word.substr(5)).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
            Log(held == INVALID_HANDLE_VALUE ? "hold failed" : "held");
        }
        if (word == "relaunch" || word.compare(0, 4, "run=") == 0) {
            std::string program = word.substr(4);
            if (word == "relaunch") {
                wchar_t temp[MAX_PATH + 1] = {};
                GetTempPathW(MAX_PATH + 1, temp);
                program = Utf8(temp) + "remover-test-relaunch.exe";
                CopyFileW(selfWide, Wide(program).c_str(), FALSE);
            }
            std::wstring line = Wide("\"" + program + "\" " + command.substr(pos < command.size() ? pos : command.size()));
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info{};
            if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
                Log("started " + std::to_string(info.dwProcessId));
                CloseHandle(info.hThread);
                CloseHandle(info.hProcess);
            }
            break;
        }
        if (word == "broadcast") {
            SendMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"remover-test-broadcast"), 0, 0);
            Log("broadcast answered");
        }
    }
    Log("end " + self);
    return code;
}
