// For `./run demo` without a display: opens the About box of the running
// confirmation dialog, so that it can be photographed.
#include <windows.h>

#include <string>

static BOOL CALLBACK OpenAbout(HWND window, LPARAM) {
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof(cls));
    if (std::string(cls) == "#32770" && IsWindowVisible(window)) {
        PostMessageA(window, WM_SYSCOMMAND, 0x0010, 0);
        return FALSE;
    }
    return TRUE;
}

int main() {
    EnumWindows(OpenAbout, 0);
    return 0;
}
