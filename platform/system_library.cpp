#include "platform/system_library.h"

#include <string>

HMODULE LoadSystemLibrary(const char* name) {
    if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
    // Windows 7 without the search-path update rejects the flag: name the
    // file in the system folder instead.
    if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const std::string path = std::string(folder, length) + "\\" + name;
    return LoadLibraryExA(path.c_str(), nullptr, 0);
}

void RestrictLibrarySearch() {
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        auto setDefault = LookupFunction<decltype(&SetDefaultDllDirectories)>(kernel, "SetDefaultDllDirectories");
        if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    }
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryA("");
}
