#include "driver/app_instance.h"

#include "driver/desktop_user.h"
#include "driver/main_app.h"
#include "driver/update_package.h"
#include "environment/install_target.h"
#include "messages/support_log.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"

std::string AppExecutablePath() { return InstallEnvironment.AppFolder + UpdatePackage.AppName + ".exe"; }

bool InstanceMarkerAbsent() {
    // Opened, never created: a probe must not make the marker it looks for.
    // The marker of another user's Lexomir (an administrator elevated this
    // run for the user at the desktop) refuses this process with access
    // denied: it is running all the same. The handle is never kept: it
    // would hold the marker alive after the application ends.
    // A probe that failed otherwise (out of resources) found nothing: the
    // window, looked for on every way out, keeps a second instance away.
    const TOwnedHandle marker(OpenFileMappingA(FILE_MAP_READ, FALSE, InstanceMappingName));
    return !marker && GetLastError() != ERROR_ACCESS_DENIED;
}

namespace {

// Its main window, shown normally and brought to the front. Both only post
// to the window's thread: a hung application does not hold this run.
void BringToFront(HWND window) {
    ShowWindowAsync(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
}

}  // namespace

TAppDealings AppDealings;

void RequestAppQuit() {
    // Only a request that was posted may have closed it.
    HWND window = FindWindowA(MainWindowClass, nullptr);
    AppDealings.QuitRequested = window && PostMessageA(window, WM_QUIT, 0, 0);
}

bool WaitForAppToQuit() {
    for (int probe = 0; probe < 8; ++probe) {
        Sleep(512);
        if (InstanceMarkerAbsent()) return true;
    }
    return false;
}

// The installer runs elevated; the application must not. Started with an
// administrator's token, it would keep its settings in another profile,
// refuse drag and drop from Explorer, and run elevated whatever a user
// without rights put beside it in its folder; its file dialogs would run
// anything elevated. It is started the plain way only where that raises
// nothing (this process not elevated, the shell elevated too), and not at
// all where no way to the desktop user's unelevated token is left: the
// waits then run out quietly, as for any start that fails.
void StartApp() {
    SetCurrentDirectoryA(InstallEnvironment.AppFolder.c_str());
    if (StartAsDesktopUser(AppExecutablePath(), InstallEnvironment.AppFolder) == TDesktopStart::AsThisUser)
        ShellExecuteA(nullptr, "open", AppExecutablePath().c_str(), "", "", SW_SHOWNORMAL);
}

void StartAppAndActivate() {
    StartApp();
    bool marker = false;
    for (int probe = 0; probe < 8 && !marker; ++probe) {
        Sleep(512);
        marker = !InstanceMarkerAbsent();
    }
    if (!marker) {
        SupportLog::Note("application start: it was not running 4 s later");
        return;
    }
    HWND window = nullptr;
    for (int search = 0; search < 11 && !window; ++search) {
        Sleep(1024);
        window = FindWindowA(MainWindowClass, nullptr);
    }
    if (!window) {
        SupportLog::Note("application start: running, but its window did not appear");
        return;
    }
    BringToFront(window);
    SupportLog::Note("application start: running, its window brought to the front");
}

void LeaveApp(bool wanted) {
    if (AppDealings.Left || (!wanted && !AppDealings.QuitRequested)) return;
    AppDealings.Left = true;
    // Its marker or its window says that it still runs: it did not quit,
    // and nobody starts a second instance.
    const bool marker = !InstanceMarkerAbsent();
    HWND window = FindWindowA(MainWindowClass, nullptr);
    if (!marker && !window) {
        StartAppAndActivate();
        return;
    }
    if (!wanted) return;
    if (window) BringToFront(window);
    SupportLog::Note(window ? "application: still running, its window brought to the front"
                            : "application: still running, without a window");
}
