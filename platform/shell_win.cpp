// The shell's folders (special, known, protected, temp and the system's own) and
// what a shortcut leads to.
#include "platform/shell_win.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/com_win.h"
#include "platform/platform_win.h"

namespace platform {

namespace {

std::string ShellPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return std::string();
    return Narrow(buffer, ::wcslen(buffer));
}

std::string EnvironmentPath(const wchar_t* name) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return (length > 0 && length < MAX_PATH) ? Narrow(buffer, length) : std::string();
}

}  // namespace

WideString SystemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? WideString(buffer, length) : WideString();
}

void EnterSystemFolder() {
    const WideString system = SystemFolder();
    if (!system.empty()) ::SetCurrentDirectoryW(system.c_str());
}

bool WindowsPlatform::SpecialFolder(ShellFolder which, std::string* path) {
    std::string found = ShellPath(which == ShellFolder::kPrograms ? CSIDL_PROGRAMS : CSIDL_DESKTOP);
    if (found.empty()) return false;
    *path = std::move(found);
    return true;
}

std::vector<std::string> WindowsPlatform::ProtectedFolders() {
    static const int kFolders[] = {
        CSIDL_WINDOWS,          CSIDL_SYSTEM,          CSIDL_SYSTEMX86,
        CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
        CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
        CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL,        CSIDL_STARTMENU,
        CSIDL_PROGRAMS,         CSIDL_STARTUP,         CSIDL_APPDATA,
        CSIDL_LOCAL_APPDATA,    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS,
        CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP,
        CSIDL_MYMUSIC,          CSIDL_MYPICTURES,      CSIDL_MYVIDEO,
        CSIDL_FAVORITES,        CSIDL_TEMPLATES,       CSIDL_COMMON_TEMPLATES,
    };
    std::vector<std::string> folders;
    for (int csidl : kFolders) folders.push_back(ShellPath(csidl));
    // A 32-bit process sees only the x86 Program Files through the shell.
    for (const wchar_t* name : {L"ProgramW6432", L"CommonProgramW6432", L"ProgramFiles", L"ProgramData",
                                L"SystemRoot", L"USERPROFILE", L"PUBLIC", L"ALLUSERSPROFILE"}) {
        folders.push_back(EnvironmentPath(name));
    }
    // Downloads has no CSIDL; it lies in the profile on every supported Windows.
    const std::string profile = ShellPath(CSIDL_PROFILE);
    if (!profile.empty()) {
        folders.push_back(profile + "\\Downloads");
        const size_t cut = profile.rfind('\\');
        if (cut != std::string::npos && cut > 2) folders.push_back(profile.substr(0, cut));  // the users' root
    }
    std::vector<std::string> result;
    for (const std::string& folder : folders) {
        if (!folder.empty()) result.push_back(folder);
    }
    return result;
}

std::vector<std::string> WindowsPlatform::KnownFolders() {
    std::vector<std::string> folders;
    ComScope com;
    com_ptr<IKnownFolderManager> manager;
    unique_cotaskmem<KNOWNFOLDERID> ids;
    UINT count = 0;
    if (SUCCEEDED(::CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER, IID_IKnownFolderManager,
                                     manager.put_void())) &&
        SUCCEEDED(manager->GetFolderIds(ids.put(), &count))) {
        for (UINT i = 0; i < count; ++i) {
            unique_cotaskmem<wchar_t> path;
            if (SUCCEEDED(::SHGetKnownFolderPath(ids.get()[i], KF_FLAG_DONT_VERIFY, nullptr, path.put())) && path) {
                folders.push_back(Narrow(path.get(), ::wcslen(path.get())));
            }
        }
    }
    // The Start menu's own folders, whether or not the list above could be read.
    for (int csidl : {CSIDL_ADMINTOOLS, CSIDL_COMMON_ADMINTOOLS, CSIDL_ALTSTARTUP, CSIDL_COMMON_ALTSTARTUP}) {
        folders.push_back(ShellPath(csidl));
    }
    // The per-user program files folders (FOLDERID_UserProgramFiles and
    // FOLDERID_UserProgramFilesCommon), which Wine's list lacks: where Windows puts them.
    const std::string local = ShellPath(CSIDL_LOCAL_APPDATA);
    if (!local.empty()) {
        folders.push_back(local + "\\Programs");
        folders.push_back(local + "\\Programs\\Common");
    }
    return folders;
}

std::string WindowsPlatform::ShortcutTarget(const std::string& path) {
    ComScope com;
    com_ptr<IShellLinkW> link;
    com_ptr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(Widen(path).c_str(), STGM_READ))) {
        return std::string();
    }
    // Read as stored: resolving would search the disk for a moved target.
    wchar_t target[MAX_PATH] = {};
    if (link->GetPath(target, MAX_PATH, nullptr, 0) != S_OK) return std::string();
    return Narrow(target, ::wcslen(target));
}

std::string WindowsPlatform::WindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Narrow(buffer, length) : std::string();
}

std::vector<std::string> WindowsPlatform::TempFolders() {
    std::vector<std::string> folders;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length > 0 && length <= MAX_PATH) {
        // Process paths come back in long form; TEMP is often an 8.3 one.
        wchar_t longer[MAX_PATH] = {};
        const DWORD longLength = ::GetLongPathNameW(buffer, longer, MAX_PATH);
        std::string temp = longLength > 0 && longLength < MAX_PATH ? Narrow(longer, longLength) : Narrow(buffer, length);
        while (temp.size() > 3 && temp.back() == '\\') temp.pop_back();
        folders.push_back(temp);
    }
    // The system's own temp folder, where elevated installers sometimes work.
    length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.push_back(Narrow(buffer, length) + "\\Temp");
    return folders;
}

}  // namespace platform
