// Libraries the installer loads at run time come from the system folder
// only: it runs elevated, often from a downloads folder where a planted DLL
// of the same name would otherwise be loaded into it.
#pragma once

#include "platform/win32.h"

HMODULE LoadSystemLibrary(const char* name);

// Takes the folder of the executable and the current folder out of the
// search for libraries loaded later, by anyone. Called first of all.
void RestrictLibrarySearch();

// A function of a loaded library, as the type it is declared with
// (`decltype(&BCryptHashData)`); null when the library lacks it. The cast
// goes through void* because a FARPROC converts to no other function type
// without a warning.
template <typename Function>
Function LookupFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
