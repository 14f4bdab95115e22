/* The installer's way of writing the data file, step by step, each step
 * timed with QueryPerformanceCounter: the same calls with the same flags
 * as InstallEmbeddedFile (copy the resource into one buffer, CreateFileA on
 * ~lxn.cok, one WriteFile, FlushFileBuffers, CloseHandle, MoveFileExA with
 * MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, free the buffer), so
 * that the cost of each can be told apart, and what leaving one out saves.
 *
 *   write_steps.exe product|nocopy|noflush
 *
 *   product  every step, as the installer does them
 *   nocopy   WriteFile straight from the resource in the image
 *   noflush  no FlushFileBuffers
 *
 * Prints one line: mode=... find=... copy=... create=... write=... flush=...
 * close=... move=... free=... total=... (milliseconds). */
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define DIR "C:\\Program Files (x86)\\Lexomir\\"

static LARGE_INTEGER freq;
static double ms(LARGE_INTEGER a, LARGE_INTEGER b) {
    return (double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)freq.QuadPart;
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "product";
    const int copy = strcmp(mode, "nocopy") != 0;
    const int flush = strcmp(mode, "noflush") != 0;
    QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t[9];

    QueryPerformanceCounter(&t[0]);
    HRSRC resource = FindResourceA(NULL, "LXN", "COK");
    HGLOBAL loaded = resource ? LoadResource(NULL, resource) : NULL;
    const unsigned char* data = loaded ? (const unsigned char*)LockResource(loaded) : NULL;
    DWORD size = resource ? SizeofResource(NULL, resource) : 0;
    if (!data) return 2;
    QueryPerformanceCounter(&t[1]);
    unsigned char* buffer = NULL;
    if (copy) {
        buffer = (unsigned char*)malloc(size);
        if (!buffer) return 3;
        memcpy(buffer, data, size);
    }
    QueryPerformanceCounter(&t[2]);
    HANDLE file =
        CreateFileA(DIR "~lxn.cok", GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 4;
    QueryPerformanceCounter(&t[3]);
    DWORD written = 0;
    BOOL ok = WriteFile(file, copy ? buffer : data, size, &written, NULL) && written == size;
    QueryPerformanceCounter(&t[4]);
    if (flush) ok = ok && FlushFileBuffers(file);
    QueryPerformanceCounter(&t[5]);
    ok = CloseHandle(file) && ok;
    QueryPerformanceCounter(&t[6]);
    ok = ok && MoveFileExA(DIR "~lxn.cok", DIR "lxn.cok", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    QueryPerformanceCounter(&t[7]);
    free(buffer);
    QueryPerformanceCounter(&t[8]);
    printf(
        "mode=%s find=%.3f copy=%.3f create=%.3f write=%.3f flush=%.3f close=%.3f move=%.3f free=%.3f "
        "total=%.3f\n",
        mode, ms(t[0], t[1]), ms(t[1], t[2]), ms(t[2], t[3]), ms(t[3], t[4]), ms(t[4], t[5]), ms(t[5], t[6]),
        ms(t[6], t[7]), ms(t[7], t[8]), ms(t[0], t[8]));
    return ok ? 0 : 4;
}
