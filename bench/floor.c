/* The floors: the least a program can do to install the data file. Each
 * finds the same resource (type COK, name LXN) in its own image and writes
 * it with one WriteFile straight from there, and does nothing else: no
 * checks, no copy, no registry.
 *
 * floor.exe writes over the installed file in place. durable_floor.exe
 * (built with FLOOR_DURABLE) writes what a durable replacement needs at
 * the least: the temporary file beside the installed one, FlushFileBuffers,
 * and MoveFileExA over the installed file with MOVEFILE_REPLACE_EXISTING
 * and MOVEFILE_WRITE_THROUGH. Whatever the real installer spends beyond
 * their times is the price of what it does besides. */
#include <windows.h>

#define FLOOR_FOLDER "C:\\Program Files (x86)\\Lexomir\\"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
    HRSRC resource = FindResourceA(NULL, "LXN", "COK");
    if (!resource) return 2;
    HGLOBAL loaded = LoadResource(NULL, resource);
    const void* data = loaded ? LockResource(loaded) : NULL;
    DWORD size = SizeofResource(NULL, resource);
    if (!data) return 2;
#ifdef FLOOR_DURABLE
    const char* path = FLOOR_FOLDER "~lxn.cok";
#else
    const char* path = FLOOR_FOLDER "lxn.cok";
#endif
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, NULL) && written == size;
#ifdef FLOOR_DURABLE
    ok = ok && FlushFileBuffers(file);
#endif
    ok = CloseHandle(file) && ok;
#ifdef FLOOR_DURABLE
    ok = ok && MoveFileExA(path, FLOOR_FOLDER "lxn.cok", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#endif
    return ok ? 0 : 4;
}
