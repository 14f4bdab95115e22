// FolderSizeKb from the product, on any folder: prints the size in KiB and
// the time the walk took (QueryPerformanceCounter), one line:
//   kb=12345 ms=67.890
#include <cstdio>

#include "install/installed_size.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: foldersize FOLDER\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const long long kb = FolderSizeKb(argv[1]);
    QueryPerformanceCounter(&end);
    std::printf("kb=%lld ms=%.3f\n", kb, double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
    return kb < 0 ? 1 : 0;
}
