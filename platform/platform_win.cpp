// The Windows platform itself, and the system's error texts.
#include "platform/platform_win.h"

namespace platform {

WindowsPlatform& Windows() {
    static WindowsPlatform instance;
    return instance;
}

uint32_t WindowsPlatform::LastError() { return ::GetLastError(); }

std::string WindowsPlatform::ErrorText(uint32_t error) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = length ? Narrow(text, length) : std::string();
    ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return "error " + std::to_string(error) + (result.empty() ? "" : " (" + result + ")");
}

}  // namespace platform
