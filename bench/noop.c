/* Does nothing: the cost of starting and ending a process. Built twice,
 * once bare and once carrying the payload as a resource, to tell process
 * creation from the loading of a 28 MB image. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    (void)instance;
    (void)previous;
    (void)command;
    (void)show;
    return 0;
}
