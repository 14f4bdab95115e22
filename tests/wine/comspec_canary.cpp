// Stands in for a program that a user's environment names as its command
// interpreter (ComSpec). It only records that it was started, with its
// command line, in canary.log beside itself, and prints nothing.
#include <windows.h>

int main() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 3;
    while (length > 0 && path[length - 1] != '\\') --length;
    lstrcpyA(path + length, "canary.log");
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return 2;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    WriteFile(log, line, lstrlenA(line), &written, nullptr);
    WriteFile(log, "\r\n", 2, &written, nullptr);
    CloseHandle(log);
    return 0;
}
