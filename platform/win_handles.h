// RAII owners for the Windows resources the program holds, and the one place
// where UTF-8 meets UTF-16.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "platform/unique.h"

namespace platform {

struct HandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
struct FileTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::CloseHandle(h); }
};
// What the native calls (NtCreateFile) return: null when there is none, as
// opposed to CreateFileW's INVALID_HANDLE_VALUE, which is a valid handle to them.
extern "C" LONG NTAPI NtClose(HANDLE);
struct NtHandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { NtClose(h); }
};
struct FindTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { ::FindClose(h); }
};
struct HkeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY h) { ::RegCloseKey(h); }
};
struct BstrTraits {
    static BSTR invalid() { return nullptr; }
    static void close(BSTR s) { ::SysFreeString(s); }
};

using unique_handle = unique_any<HANDLE, HandleTraits>;
using unique_file = unique_any<HANDLE, FileTraits>;
using unique_nt_handle = unique_any<HANDLE, NtHandleTraits>;
using unique_find = unique_any<HANDLE, FindTraits>;
using unique_hkey = unique_any<HKEY, HkeyTraits>;
using unique_bstr = unique_any<BSTR, BstrTraits>;

// A UTF-16 string. Its own traits keep the runtime's prebuilt std::wstring (a
// seventh of the program's size) out of the build: only what is used is compiled.
struct WideTraits : std::char_traits<wchar_t> {};
using WideString = std::basic_string<wchar_t, WideTraits>;

// UTF-8 <-> UTF-16 at the boundary to Windows.
WideString Widen(const std::string& text);
std::string Narrow(const wchar_t* text, size_t length);
inline std::string Narrow(const WideString& text) { return Narrow(text.data(), text.size()); }
// A path for the file functions: absolute paths get the extended-length prefix
// (\\?\, \\?\UNC\), so any name and any length up to the system's limit is
// reached exactly; '/' becomes '\', which that prefix no longer translates.
WideString FilePath(const std::string& path);

// A text the system writes into a buffer of the caller's: `fill(buffer, size)`
// returns the text's length when it fits (below `size`), a length of `size` or more
// when it does not (what it needs, or just `size` when the call cannot say), or 0
// on failure. The buffer grows until the text fits, up to the longest path the
// system has; empty when it never does.
template <typename Fill>
WideString GrownText(Fill fill) {
    constexpr DWORD kLongest = 32768;
    WideString buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = fill(&buffer[0], size);
        if (length == 0) return WideString();
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (size >= kLongest) return WideString();
        const DWORD wanted = length > size ? length + 1 : size * 2;
        buffer.resize(wanted < kLongest ? wanted : kLongest);
    }
}

// UTF-8 to a COM string; null only when allocation fails.
unique_bstr Utf8ToBstr(const std::string& text);

}  // namespace platform
