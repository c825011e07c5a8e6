// The registry: the product's key, the journal's values in it, and the other
// products' Uninstall entries.
#include <shlwapi.h>

#include "platform/platform_win.h"

namespace platform {

namespace {

// The registry view this program reads and deletes its own key in.
constexpr REGSAM kOwnView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

HKEY RootOf(Hive hive) { return hive == Hive::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

}  // namespace

bool WindowsPlatform::DeleteRegistryTree(const std::string& key, Hive hive) {
    const LSTATUS status = ::SHDeleteKeyW(RootOf(hive), Widen(key).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

StringList WindowsPlatform::ReadRegistryList(const std::string& key, const std::string& value, Hive hive) {
    StringList list;
    unique_hkey opened;
    if (::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_QUERY_VALUE | kOwnView, opened.put()) !=
        ERROR_SUCCESS) {
        return list;
    }
    const WideString name = Widen(value);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return list;
    }
    WideString data(size / sizeof(wchar_t) + 2, L'\0');
    if (::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
        ERROR_SUCCESS) {
        return list;
    }
    for (size_t at = 0; at < data.size() && data[at] != L'\0'; at = data.find(L'\0', at) + 1) {
        list.push_back(Narrow(data.c_str() + at, ::wcslen(data.c_str() + at)));
    }
    return list;
}

bool WindowsPlatform::WriteRegistryList(const std::string& key, const std::string& value, const StringList& list,
                                        Hive hive) {
    unique_hkey opened;
    // Opened, never created: a key that is gone must not come back for this.
    if (::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_SET_VALUE | kOwnView, opened.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    WideString data;
    for (const std::string& entry : list) {
        data += Widen(entry);
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return ::RegSetValueExW(opened.get(), Widen(value).c_str(), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WindowsPlatform::RegistryKeyExists(const std::string& key, uint64_t* lastWrite, Hive hive) {
    *lastWrite = 0;
    unique_hkey opened;
    const LSTATUS status =
        ::RegOpenKeyExW(RootOf(hive), Widen(key).c_str(), 0, KEY_QUERY_VALUE | kOwnView, opened.put());
    if (status != ERROR_SUCCESS) return status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND;
    FILETIME written{};
    if (::RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, &written) == ERROR_SUCCESS) {
        *lastWrite = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    }
    return true;
}

bool WindowsPlatform::CreateRegistryKey(const std::string& key, Hive hive) {
    const size_t cut = key.rfind('\\');
    if (cut == std::string::npos) return false;
    unique_hkey parent, created;
    // The parent is opened, never created: a product key that is gone stays gone.
    return ::RegOpenKeyExW(RootOf(hive), Widen(key.substr(0, cut)).c_str(), 0, KEY_CREATE_SUB_KEY | kOwnView,
                           parent.put()) == ERROR_SUCCESS &&
           ::RegCreateKeyExW(parent.get(), Widen(key.substr(cut + 1)).c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | kOwnView,
                             nullptr, created.put(), nullptr) == ERROR_SUCCESS;
}

namespace {

// A text value in one read where it fits the buffer at hand; a value over
// kMaxEntryValue bytes is skipped unread.
std::string StringValue(HKEY key, const wchar_t* name, WideString& buffer) {
    // REG_EXPAND_SZ passes as REG_SZ, expanded (naming it too would be refused).
    const DWORD kinds = RRF_RT_REG_SZ;
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    LSTATUS status = ::RegGetValueW(key, nullptr, name, kinds, nullptr, &buffer[0], &size);
    if (status == ERROR_MORE_DATA && size <= kMaxEntryValue) {
        buffer.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegGetValueW(key, nullptr, name, kinds, nullptr, &buffer[0], &size);
    }
    if (status != ERROR_SUCCESS || size > kMaxEntryValue) return std::string();
    return Narrow(buffer.c_str(), ::wcsnlen(buffer.c_str(), size / sizeof(wchar_t)));
}

}  // namespace

std::vector<InstalledEntry> WindowsPlatform::InstalledProducts() {
    std::vector<InstalledEntry> entries;
    WideString buffer(MAX_PATH * 2, L'\0');
    const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    // Each key once: HKEY_CURRENT_USER's software is one key in both views, and a
    // 32-bit Windows has one view of everything.
    BOOL wow64 = FALSE;
    const bool twoViews = sizeof(void*) == 8 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (REGSAM view : {kOwnView, kOwnView ^ (KEY_WOW64_32KEY | KEY_WOW64_64KEY)}) {
            if (view != kOwnView && (hive == HKEY_CURRENT_USER || !twoViews)) continue;
            unique_hkey uninstall;
            if (::RegOpenKeyExW(hive, kUninstall, 0, KEY_ENUMERATE_SUB_KEYS | view, uninstall.put()) != ERROR_SUCCESS) {
                continue;
            }
            wchar_t name[256];
            for (DWORD i = 0;; ++i) {
                DWORD length = 256;
                const LSTATUS status = ::RegEnumKeyExW(uninstall.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
                if (status == ERROR_MORE_DATA) continue;
                if (status != ERROR_SUCCESS) break;
                unique_hkey entry;
                if (::RegOpenKeyExW(uninstall.get(), name, 0, KEY_QUERY_VALUE | view, entry.put()) != ERROR_SUCCESS) {
                    continue;
                }
                InstalledEntry found;
                found.name = Narrow(name, length);
                found.machine = hive == HKEY_LOCAL_MACHINE;
                // HKEY_CURRENT_USER's software has one view.
                found.thisProgramsKey = !found.machine || view == kOwnView;
                found.uninstallString = StringValue(entry.get(), L"UninstallString", buffer);
                found.installLocation = StringValue(entry.get(), L"InstallLocation", buffer);
                entries.push_back(std::move(found));
            }
        }
    }
    return entries;
}

}  // namespace platform
