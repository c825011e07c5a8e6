// Benchmark helper: `bench_walk <folder>` removes the folder with the program's own
// walk and prints the seconds it took; `bench_walk` alone only starts and ends.
// `bench_walk <folder> windows` walks as on Windows, asking no names: under Wine
// only on a tree without links, whose targets it would delete.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/folder_win.h"
#include "platform/platform_win.h"
#include "removal/folder_tree.h"

int main(int argc, char** argv) {
    if (argc < 2) return 0;
    if (argc > 2 && std::strcmp(argv[2], "windows") == 0) platform::DecideLinksOpenAsThemselves(true);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    RemoveFolderTree(platform::Windows(), argv[1]);
    QueryPerformanceCounter(&end);
    std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
