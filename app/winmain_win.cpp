// Process entry: hands the command-line tail to the application object.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "app/framework_win.h"
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
        // Out of memory outside every guard: nothing more can be said.
        return 1603;
    }
    return app->m_exitCode;
}

// The runtime's default handler demangles the type of an uncaught exception for a
// console no GUI program has; replacing it keeps the demangler (a sixth of the
// program's size) out of the build.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// The runtime's versions of these build exception objects that carry text, which
// pulls in a second, reference-counted string implementation. Every one of them
// means a length the program cannot hold: out of memory, as far as it is concerned.
// (All of the runtime's set is defined, or its own would come along for the rest.)
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
void __throw_invalid_argument(const char*) { throw bad_alloc(); }
void __throw_domain_error(const char*) { throw bad_alloc(); }
void __throw_range_error(const char*) { throw bad_alloc(); }
void __throw_runtime_error(const char*) { throw bad_alloc(); }
void __throw_overflow_error(const char*) { throw bad_alloc(); }
void __throw_underflow_error(const char*) { throw bad_alloc(); }
void __throw_bad_cast() { throw bad_alloc(); }
void __throw_bad_typeid() { throw bad_alloc(); }
void __throw_bad_exception() { throw bad_alloc(); }
}  // namespace std
