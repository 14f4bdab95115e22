#include "driver/app_instance.h"

#include "driver/main_app.h"
#include "driver/update_package.h"
#include "environment/install_target.h"
#include "platform/win32.h"

std::string AppExecutablePath() { return InstallEnvironment.AppFolder + UpdatePackage.AppName + ".exe"; }

bool ProbeInstanceMapping() {
    SetLastError(ERROR_SUCCESS);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, InstanceMappingSize,
                                        InstanceMappingName);
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    // Never keep the handle: it would hold the marker alive after the
    // application ends, and a later probe would find the installer's own.
    if (mapping) CloseHandle(mapping);
    return !existed;
}

void RequestAppQuit() {
    if (HWND window = FindWindowA(MainWindowClass, nullptr)) PostMessageA(window, WM_QUIT, 0, 0);
}

bool WaitForAppToQuit() {
    for (int probe = 0; probe < 8; ++probe) {
        Sleep(512);
        if (ProbeInstanceMapping()) return true;
    }
    return false;
}

void StartApp() {
    SetCurrentDirectoryA(InstallEnvironment.AppFolder.c_str());
    ShellExecuteA(nullptr, "open", AppExecutablePath().c_str(), "", "", SW_SHOWNORMAL);
}

void StartAppAndActivate() {
    StartApp();
    bool marker = false;
    for (int probe = 0; probe < 8 && !marker; ++probe) {
        Sleep(512);
        marker = !ProbeInstanceMapping();
    }
    if (!marker) return;
    HWND window = nullptr;
    for (int search = 0; search < 11 && !window; ++search) {
        Sleep(1024);
        window = FindWindowA(MainWindowClass, nullptr);
    }
    if (!window) return;
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
}
