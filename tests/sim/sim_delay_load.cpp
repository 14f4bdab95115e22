// Covers: platform/win32.h, host half. The executable delay-loads its GUI libraries and COM's (ole32,
// oleaut32): a library is loaded at the first call of one of its
// functions, with the library search as the process has set it by then.
// Every function of these libraries that the installer uses is listed here.
#include <map>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

// GetDpiForWindow is looked up in user32 once a call has loaded it, never
// delay-loaded; it is listed as user32's all the same.
// Never destroyed: a simulated thread that outlives its test (the progress
// window's) still enters the simulation while the process exits.
const std::map<std::string, std::string>& LibraryOf() {
    static const auto* table = new std::map<std::string, std::string>{
        {"MessageBoxA", "user32.dll"},
        {"MessageBoxExA", "user32.dll"},
        {"MessageBoxW", "user32.dll"},
        {"MessageBoxExW", "user32.dll"},
        {"GetShellWindow", "user32.dll"},
        {"GetWindowThreadProcessId", "user32.dll"},
        {"FindWindowA", "user32.dll"},
        {"PostMessageA", "user32.dll"},
        {"ShowWindow", "user32.dll"},
        {"ShowWindowAsync", "user32.dll"},
        {"SetForegroundWindow", "user32.dll"},
        {"GetSystemMetrics", "user32.dll"},
        {"LoadIconA", "user32.dll"},
        {"LoadCursorA", "user32.dll"},
        {"RegisterClassExA", "user32.dll"},
        {"CreateWindowExA", "user32.dll"},
        {"DefWindowProcA", "user32.dll"},
        {"GetMessageA", "user32.dll"},
        {"TranslateMessage", "user32.dll"},
        {"DispatchMessageA", "user32.dll"},
        {"PostQuitMessage", "user32.dll"},
        {"SetWindowTextA", "user32.dll"},
        {"SetWindowPos", "user32.dll"},
        {"GetProcessWindowStation", "user32.dll"},
        {"GetUserObjectInformationW", "user32.dll"},
        {"GetDC", "user32.dll"},
        {"ReleaseDC", "user32.dll"},
        {"SendMessageA", "user32.dll"},
        {"GetDpiForWindow", "user32.dll"},
        {"GetStockObject", "gdi32.dll"},
        {"GetDeviceCaps", "gdi32.dll"},
        {"GetObjectA", "gdi32.dll"},
        {"CreateFontIndirectA", "gdi32.dll"},
        {"DeleteObject", "gdi32.dll"},
        {"InitCommonControls", "comctl32.dll"},
        {"ShellExecuteA", "shell32.dll"},
        {"SHGetFileInfoA", "shell32.dll"},
        {"CoInitializeEx", "ole32.dll"},
        {"CoCreateInstance", "ole32.dll"},
        {"CoUninitialize", "ole32.dll"},
        {"SysAllocString", "oleaut32.dll"},
        {"SysFreeString", "oleaut32.dll"},
    };
    return *table;
}

}  // namespace

std::string DelayLoadedLibrary(const std::string& function) {
    const auto found = LibraryOf().find(function);
    return found == LibraryOf().end() ? std::string() : found->second;
}

void Machine::NoteDelayLoad(const std::string& function) {
    const std::string library = DelayLoadedLibrary(function);
    if (library.empty()) return;
    for (const DelayLoad& load : delayLoads)
        if (load.library == library) return;
    const bool restricted = (defaultDllDirectories & LOAD_LIBRARY_SEARCH_SYSTEM32) || dllDirectory == "";
    delayLoads.push_back({library, restricted});
}

}  // namespace Sim
