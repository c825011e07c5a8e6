// Message boxes and the input queue.
#include "platform/platform_win.h"

namespace platform {

bool WindowsPlatform::AskRetry(WindowRef owner, const std::string& text, const std::string& caption) {
    return ::MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(),
                         MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

void WindowsPlatform::DiscardQueuedInput() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_INPUT)) {
    }
}

void WindowsPlatform::ShowMessage(WindowRef owner, const std::string& text, const std::string& caption,
                                  MessageKind kind) {
    ::MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(),
                  MB_OK | (kind == MessageKind::kWarning ? MB_ICONWARNING : 0));
}

}  // namespace platform
