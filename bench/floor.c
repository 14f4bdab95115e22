/* The floor: the least a program can do to install the data file. It finds
 * the same resource (type COK, name LXN) in its own image and writes it to
 * the installed path with one WriteFile, and does nothing else: no checks,
 * no temporary file, no flush, no registry. Whatever the real installer
 * spends beyond this program's time is the price of what it does besides. */
#include <windows.h>

#ifndef FLOOR_TARGET
#define FLOOR_TARGET "C:\\Program Files (x86)\\Lexomir\\lxn.cok"
#endif

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
    HANDLE file = CreateFileA(FLOOR_TARGET, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, NULL) && written == size;
    CloseHandle(file);
    return ok ? 0 : 4;
}
