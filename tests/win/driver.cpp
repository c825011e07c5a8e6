#include "tests/win/driver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <utility>

namespace testwin {

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

std::wstring LongPath(const std::string& path) {
    std::wstring wide = Wide(path);
    if (wide.compare(0, 2, L"\\\\") == 0) return wide;
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\' ? L"\\\\?\\" + wide : wide;
}

std::string TestProgramFolder() {
    wchar_t buffer[32768] = {};
    GetModuleFileNameW(nullptr, buffer, 32768);
    const std::string path = Utf8(buffer);
    return path.substr(0, path.rfind('\\'));
}

std::string BuildFolder() {
    const std::string tests = TestProgramFolder();
    const std::string up = tests.substr(0, tests.rfind('\\'));
    return up.find('\\') == std::string::npos ? up : up.substr(0, up.rfind('\\'));
}

void MakeFolders(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') CreateDirectoryW(LongPath(path.substr(0, i)).c_str(), nullptr);
    }
}

// Without recursion: clean-up must cope with the thousand-level trees the tests make.
void DeleteTree(const std::string& path) {
    std::vector<std::pair<std::wstring, bool>> stack{{LongPath(path), false}};
    while (!stack.empty()) {
        if (stack.back().second) {
            RemoveDirectoryW(stack.back().first.c_str());
            stack.pop_back();
            continue;
        }
        stack.back().second = true;
        const std::wstring folder = stack.back().first;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) continue;
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = folder + L"\\" + name;
            const bool link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if (!link) SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
                stack.emplace_back(full, false);
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(full.c_str());
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
}

std::string ScratchFolder(const std::string& name) {
    const std::string path = "C:\\remover-tests\\" + name;
    DeleteTree(path);
    MakeFolders(path);
    return path;
}

const char kSwaps[] = "C:\\remover-tests\\swaps\\";

bool Swap(const std::string& name, const std::string& orders, DWORD timeoutMs) {
    DeleteFileW(LongPath(kSwaps + name + ".done").c_str());
    WriteFile(kSwaps + name + ".tmp", orders);
    // Renamed into place, so the swapper never reads half a request.
    if (!MoveFileExW(LongPath(kSwaps + name + ".tmp").c_str(), LongPath(kSwaps + name + ".req").c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    return timeoutMs == 0 || SwapDone(name, timeoutMs);
}

bool SwapDone(const std::string& name, DWORD timeoutMs) {
    for (DWORD waited = 0; !PathExists(kSwaps + name + ".done"); waited += 10) {
        if (waited >= timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    MakeFolders(path.substr(0, path.rfind('\\')));
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileW(LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) bytes.append(buffer, n);
    CloseHandle(file);
    return bytes;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyTo(const std::string& from, const std::string& to) {
    return CopyFileW(LongPath(from).c_str(), LongPath(to).c_str(), FALSE) != FALSE;
}

// Listed through a handle that shares deletion, as Windows' FindFirstFile opens a
// folder: Wine's does not, and fails on a folder another process holds open for
// deletion (the copy that removes the program, while the final message shows).
static void SnapshotInto(const std::string& root, const std::string& relative, std::map<std::string, long long>& out) {
    HANDLE folder = CreateFileW(LongPath(root + "\\" + relative).c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return;
    std::vector<std::string> folders;  // entered once this one is closed
    alignas(8) static unsigned char buffer[64 * 1024];
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
         GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer)); kind = FileFullDirectoryInfo) {
        for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(buffer);;
             entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
            const std::string name = Utf8(std::wstring(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
            if (name != "." && name != "..") {
                if (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    out[relative + name + "\\"] = -1;
                    if (!(entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folders.push_back(relative + name + "\\");
                } else {
                    out[relative + name] = entry->EndOfFile.QuadPart;
                }
            }
            if (entry->NextEntryOffset == 0) break;
        }
    }
    CloseHandle(folder);
    for (const std::string& inner : folders) SnapshotInto(root, inner, out);
}

std::map<std::string, long long> Snapshot(const std::string& root) {
    std::map<std::string, long long> out;
    SnapshotInto(root, "", out);
    return out;
}

std::string Utf8ToUtf16Bytes(const std::string& utf8, bool bom) {
    std::wstring wide = Wide(utf8);
    if (bom) wide.insert(wide.begin(), L'\xFEFF');
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

Program::Program(const std::string& exe, const std::string& arguments, const std::string& folder, HANDLE job,
                 HANDLE output) {
    std::wstring command = Wide("\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments));
    command.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = output ? STARTF_USESTDHANDLES : 0;
    startup.hStdOutput = output;
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, output != nullptr, job ? CREATE_SUSPENDED : 0, nullptr,
                        folder.empty() ? nullptr : Wide(folder).c_str(), &startup, &info_)) {
        info_ = PROCESS_INFORMATION{};
    } else if (job) {
        // In the job before its first instruction, as a deployment agent starts a package.
        if (!AssignProcessToJobObject(job, info_.hProcess)) TerminateProcess(info_.hProcess, 1);
        ResumeThread(info_.hThread);
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

HWND Program::WaitForDialog(const std::string& caption, DWORD timeoutMs, HWND except) const {
    const DWORD start = GetTickCount();
    do {
        for (HWND window : TopLevelWindows()) {
            wchar_t cls[64] = {};
            GetClassNameW(window, cls, 64);
            if (window != except && std::wstring(cls) == L"#32770" && (caption.empty() || WindowText(window) == caption)) {
                return window;
            }
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

DialogWatch::DialogWatch(HWND dialog, DWORD timeoutMs)
    : dialog_(dialog), timeoutMs_(timeoutMs), thread_(CreateThread(nullptr, 0, Run, this, 0, nullptr)) {}

DialogWatch::~DialogWatch() { Stop(); }

void DialogWatch::Stop() {
    if (!thread_) return;
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI DialogWatch::Run(void* param) {
    DialogWatch& watch = *static_cast<DialogWatch*>(param);
    const auto ask = [&watch](HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* answer) {
        const DWORD start = GetTickCount();
        const BOOL answered = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, watch.timeoutMs_, answer);
        // A window destroyed while it was asked waited only until then.
        const DWORD gap = answered || !IsWindow(window) ? GetTickCount() - start : watch.timeoutMs_;
        if (gap > watch.longestGapMs) watch.longestGapMs = gap;
        return answered != FALSE;
    };
    while (!watch.stop_ && IsWindow(watch.dialog_)) {
        DWORD_PTR answer = 0, end = 0, position = 0;
        ask(watch.dialog_, WM_NULL, 0, 0, &answer);
        const HWND bar = FindWindowExW(watch.dialog_, nullptr, L"msctls_progress32", nullptr);
        // Answered in turn by the dialog's thread: a bar short of its end after the
        // answer was short of it when the dialog answered.
        if (bar && ask(watch.dialog_, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &end) &&
            ask(bar, PBM_GETPOS, 0, 0, &position) && ask(bar, PBM_GETRANGE, FALSE, 0, &answer)) {
            watch.maximum = static_cast<int>(answer);
            if (watch.positions.empty() || watch.positions.back() != static_cast<int>(position)) {
                watch.positions.push_back(static_cast<int>(position));
            }
            if (static_cast<int>(position) < watch.maximum) ++(end ? watch.endSessionAllowed : watch.endSessionRefused);
        }
        Sleep(10);
    }
    return 0;
}

std::string WindowText(HWND window) {
    static wchar_t buffer[32768];
    const int n = GetWindowTextW(window, buffer, 32768);
    return Utf8(std::wstring(buffer, n > 0 ? static_cast<size_t>(n) : 0));
}

std::string ItemText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, TRUE);
    return Utf8(path);
}

bool KeyExists(const std::string& path, HKEY hive) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, Wide(path).c_str(), 0, KEY_READ | kProgramView, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool MakeKey(const std::string& path, const std::string& displayName) {
    return displayName.empty() ? SetKeyText(path, "", "") : SetKeyText(path, "DisplayName", displayName);
}

bool SetKeyText(const std::string& path, const std::string& name, const std::string& value, HKEY hive) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(hive, Wide(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kProgramView, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring text = Wide(value);
    const bool set = name.empty() || RegSetValueExW(key, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

bool MakeShortcut(const std::string& link, const std::string& target) {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    IShellLinkW* shell = nullptr;
    IPersistFile* file = nullptr;
    bool made = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&shell))) &&
                SUCCEEDED(shell->SetPath(Wide(target).c_str())) &&
                SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                SUCCEEDED(file->Save(Wide(link).c_str(), TRUE));
    if (file) file->Release();
    if (shell) shell->Release();
    if (com) CoUninitialize();
    return made;
}

namespace {
BOOL CALLBACK FindIcon(HWND child, LPARAM found) {
    wchar_t cls[16] = {};
    GetClassNameW(child, cls, 16);
    if (lstrcmpiW(cls, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0)) {
        *reinterpret_cast<bool*>(found) = true;
    }
    return TRUE;
}
}  // namespace

bool ShowsIcon(HWND box) {
    bool icon = false;
    EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&icon));
    return icon;
}

}  // namespace testwin
