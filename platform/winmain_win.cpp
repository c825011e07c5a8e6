// Process entry: hands the command-line tail to the application object.
#include <windows.h>

#include "platform/framework_win.h"
#include "platform/text.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    CWinApp* app = CWinApp::Current();
    if (!app) return 0;
    app->m_hInstance = instance;
    app->m_lpCmdLine = platform::CommandLineTail(::GetCommandLineA());
    try {
        if (app->InitInstance()) {
            MSG msg;
            while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
    } catch (...) {
        // Nothing is reported to the user; the process simply ends.
    }
    return 0;
}
