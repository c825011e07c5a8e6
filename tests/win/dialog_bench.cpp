// Benchmark helper: `dialog_bench <remover.exe> <manifest>` presses OK on the
// program's dialog and prints the longest the dialog took to answer while it
// removed, and how many positions its bar showed.
#include <windows.h>

#include <cstdio>

#include "tests/win/driver.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    testwin::Program program(argv[1], argv[2]);
    const HWND dialog = program.WaitForDialog(std::string(), 60000);
    if (!dialog) return 1;
    testwin::DialogWatch watch(dialog, 30000);
    testwin::PressButton(dialog, IDOK);
    const HWND box = program.WaitForDialog(std::string(), 600000, dialog);
    watch.Stop();
    std::printf("longest wait for an answer: %lu ms; bar positions: %u, the last %s its end\n",
                static_cast<unsigned long>(watch.longestGapMs), static_cast<unsigned>(watch.positions.size()),
                !watch.positions.empty() && watch.positions.back() == watch.maximum ? "at" : "short of");
    if (box) testwin::PressButton(box, IDOK);
    return program.WaitForExit(60000) ? 0 : 1;
}
