// The real executable's entry point.
#include "driver/program_entry.h"
#include "platform/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunInstaller(); }
