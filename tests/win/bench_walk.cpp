// Benchmark helper: `bench_walk <folder>` removes the folder with the program's own
// walk and prints the seconds it took; `bench_walk` alone only starts and ends.
#include <windows.h>

#include <cstdio>

#include "platform/platform_win.h"
#include "removal/folder_tree.h"

int main(int argc, char** argv) {
    if (argc < 2) return 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    RemoveFolderTree(platform::Windows(), argv[1]);
    QueryPerformanceCounter(&end);
    std::printf("%.3f\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
