// Benchmark helper: `dialog_bench <remover.exe> <manifest>` presses OK on the
// program's dialog and prints how long it took from OK to the final message, the
// longest the dialog took to answer, from its first frame to its last, how many
// positions its bar showed while it removed, and how long the window stayed after
// OK on the final message.
#include <windows.h>

#include <cstdio>

#include "tests/win/driver.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    testwin::Program program(argv[1], argv[2]);
    const HWND dialog = program.WaitForDialog(std::string(), 60000);
    if (!dialog) return 1;
    testwin::DialogWatch watch(dialog, 30000);
    const DWORD ok = GetTickCount();
    testwin::PressButton(dialog, IDOK);
    const HWND box = program.WaitForDialog(std::string(), 600000, dialog);
    const DWORD toMessage = GetTickCount() - ok;
    const std::vector<int> positions = watch.positions;
    const int maximum = watch.maximum;
    DWORD closed = 0;
    if (box) {
        testwin::PressButton(box, IDOK);
        const DWORD pressed = GetTickCount();
        while (IsWindow(dialog) && IsWindowVisible(dialog)) Sleep(1);
        closed = GetTickCount() - pressed;
    }
    watch.Stop();
    std::printf("OK to the final message %lu ms; longest wait for an answer: %lu ms; bar positions: %u, the last %s "
                "its end; the window closed %lu ms after OK on the final message\n",
                static_cast<unsigned long>(toMessage), static_cast<unsigned long>(watch.longestGapMs),
                static_cast<unsigned>(positions.size()),
                !positions.empty() && positions.back() == maximum ? "at" : "short of", static_cast<unsigned long>(closed));
    return program.WaitForExit(60000) ? 0 : 1;
}
