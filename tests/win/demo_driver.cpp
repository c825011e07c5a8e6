// For `./run demo` without a display: opens the About box of the running
// confirmation dialog, so that it can be photographed.
#include <windows.h>

#include <string>

static BOOL CALLBACK OpenAbout(HWND window, LPARAM) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (std::wstring(cls) == L"#32770" && IsWindowVisible(window)) {
        PostMessageW(window, WM_SYSCOMMAND, 0x0010, 0);
        return FALSE;
    }
    return TRUE;
}

int main() {
    EnumWindows(OpenAbout, 0);
    return 0;
}
