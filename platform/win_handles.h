// RAII owners for the Windows resources the program holds.
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
using unique_find = unique_any<HANDLE, FindTraits>;
using unique_hkey = unique_any<HKEY, HkeyTraits>;
using unique_bstr = unique_any<BSTR, BstrTraits>;

// ANSI code page <-> UTF-16 for COM strings; null only when allocation fails.
unique_bstr AnsiToBstr(const std::string& text);
std::string WideToAnsi(const wchar_t* text, int length);

}  // namespace platform
