/* Does nothing: the cost of starting and ending a process, which every
 * other program in the benchmark pays too. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
    return 0;
}
