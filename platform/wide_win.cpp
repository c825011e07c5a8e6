#include "platform/text.h"
#include "platform/win_handles.h"

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

WideString Widen(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return WideString(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

std::string Narrow(const wchar_t* text, size_t length) {
    return text ? Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length) : std::string();
}

WideString FilePath(const std::string& path) {
    WideString wide = Widen(path);
    if (wide.compare(0, 4, L"\\\\?\\") == 0 || wide.compare(0, 4, L"\\\\.\\") == 0) return wide;
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    if (wide.size() > 2 && wide[0] == L'\\' && wide[1] == L'\\') return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

unique_bstr Utf8ToBstr(const std::string& text) {
    const WideString wide = Widen(text);
    return unique_bstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

}  // namespace platform
