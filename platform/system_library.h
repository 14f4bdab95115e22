// Libraries the installer loads at run time come from the system folder
// only: it runs elevated, often from a downloads folder where a planted DLL
// of the same name would otherwise be loaded into it.
#pragma once

#include "platform/win32.h"

HMODULE LoadSystemLibrary(const char* name);
