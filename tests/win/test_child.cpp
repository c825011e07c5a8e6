// A stand-in module uninstaller for tests. Appends its program path and command line
// to the file named by REMOVER_TEST_LOG, then acts on ';'-separated words in its
// arguments: exit=N, sleep=MS, broadcast (sends a message to every top-level window
// and waits for the answers), delete=PATH (a file to delete, like an uninstaller
// that removes its own files).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static void Log(const std::string& line) {
    char path[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("REMOVER_TEST_LOG", path, MAX_PATH)) return;
    FILE* f = std::fopen(path, "ab");
    if (!f) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

int main() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string command = GetCommandLineA();
    Log(std::string("begin ") + self + " | " + command);
    int code = 0;
    size_t pos = 0;
    const std::string words = command;
    while (pos < words.size()) {
        size_t end = words.find_first_of("; \"", pos);
        if (end == std::string::npos) end = words.size();
        const std::string word = words.substr(pos, end - pos);
        pos = end + 1;
        if (word.compare(0, 5, "exit=") == 0) code = std::atoi(word.c_str() + 5);
        if (word.compare(0, 6, "sleep=") == 0) Sleep(static_cast<DWORD>(std::atoi(word.c_str() + 6)));
        if (word.compare(0, 7, "delete=") == 0) DeleteFileA(word.c_str() + 7);
        if (word == "broadcast") {
            SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("remover-test-broadcast"), 0, 0);
            Log("broadcast answered");
        }
    }
    Log("end " + std::string(self));
    return code;
}
