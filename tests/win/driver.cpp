#include "tests/win/driver.h"

#include <cstdio>

namespace testwin {

std::string TestProgramFolder() {
    char buffer[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path = buffer;
    return path.substr(0, path.rfind('\\'));
}

std::string BuildFolder() {
    const std::string tests = TestProgramFolder();
    const std::string up = tests.substr(0, tests.rfind('\\'));
    return up.find('\\') == std::string::npos ? up : up.substr(0, up.rfind('\\'));
}

void MakeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
}

void DeleteTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = path + "\\" + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                DeleteTree(full);
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(full.c_str());
            } else {
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
}

std::string ScratchFolder(const std::string& name) {
    const std::string path = "C:\\remover-tests\\" + name;
    DeleteTree(path);
    MakeFolders(path);
    return path;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    MakeFolders(path.substr(0, path.rfind('\\')));
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

static void SnapshotInto(const std::string& root, const std::string& relative, std::map<std::string, long long>& out) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((root + "\\" + relative + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[relative + name + "\\"] = -1;
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) SnapshotInto(root, relative + name + "\\", out);
        } else {
            out[relative + name] = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

std::map<std::string, long long> Snapshot(const std::string& root) {
    std::map<std::string, long long> out;
    SnapshotInto(root, "", out);
    return out;
}

static std::wstring Utf8ToWide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8ToAnsi(const std::string& utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &ansi[0], n, nullptr, nullptr);
    return ansi;
}

std::string Utf8ToUtf16Bytes(const std::string& utf8, bool bom) {
    std::wstring wide = Utf8ToWide(utf8);
    if (bom) wide.insert(wide.begin(), L'\xFEFF');
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

Program::Program(const std::string& exe, const std::string& arguments) {
    std::string command = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
        info_ = PROCESS_INFORMATION{};
    }
}

Program::~Program() {
    if (!info_.hProcess) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

namespace {
struct Search {
    DWORD pid;
    std::vector<HWND> found;
};
BOOL CALLBACK Collect(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}
}  // namespace

std::vector<HWND> Program::TopLevelWindows() const {
    Search search{info_.dwProcessId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Program::WaitForDialog(const std::string& caption, DWORD timeoutMs) const {
    const DWORD start = GetTickCount();
    do {
        for (HWND window : TopLevelWindows()) {
            char cls[64] = {};
            GetClassNameA(window, cls, sizeof(cls));
            if (std::string(cls) == "#32770" && (caption.empty() || WindowText(window) == caption)) return window;
        }
        if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool Program::WaitForExit(DWORD timeoutMs) const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Program::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::string WindowText(HWND window) {
    char buffer[16384] = {};
    const int n = GetWindowTextA(window, buffer, sizeof(buffer));
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace testwin
