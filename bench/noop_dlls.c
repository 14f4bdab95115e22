/* Does nothing, but starts as the installer starts: it imports the same
 * system DLLs (ADVAPI32, COMCTL32, GDI32, SHELL32, USER32 besides KERNEL32
 * and msvcrt) and carries the installer's manifest (Common Controls 6,
 * administrator), without the payload. The cost of starting a process that
 * loads and initialises those. The calls never run; bench.py checks that
 * the import list still matches the installer's. */
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    if (command && command[0] == '\x01' && show == -12345) {
        RegCloseKey(HKEY_CURRENT_USER);
        InitCommonControls();
        GetStockObject(DEFAULT_GUI_FONT);
        MessageBoxA(NULL, "", "", MB_OK);
        return IsUserAnAdmin();
    }
    return 0;
}
