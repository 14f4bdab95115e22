/* Does nothing, but imports what the installer imports (ADVAPI32, SHELL32,
 * USER32 besides KERNEL32 and msvcrt): the cost of starting a process that
 * loads and initialises those system libraries. The calls never run. */
#include <windows.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    if (command && command[0] == '\x01' && show == -12345) {
        RegCloseKey(HKEY_CURRENT_USER);
        MessageBoxA(NULL, "", "", MB_OK);
        return IsUserAnAdmin();
    }
    return 0;
}
