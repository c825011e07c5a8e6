// Process entry: hands the command-line tail to the application object.
#include <windows.h>

#include <cstdlib>

#include "platform/framework_win.h"
#include "platform/text.h"
#include "platform/win_handles.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    CWinApp* app = CWinApp::Current();
    if (!app) return 0;
    app->m_hInstance = instance;
    // The whole command line in UTF-8; the tail points into it for the process's life.
    static const std::string commandLine = platform::Narrow(::GetCommandLineW(), ::wcslen(::GetCommandLineW()));
    app->m_lpCmdLine = platform::CommandLineTail(commandLine.c_str());
    try {
        if (app->InitInstance()) {
            MSG msg;
            while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
    } catch (...) {
        // Nothing is reported to the user; the process simply ends.
    }
    return 0;
}

// The runtime's default handler demangles the type of an uncaught exception for a
// console no GUI program has; replacing it keeps the demangler (a sixth of the
// program's size) out of the build.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
