// The installer's dealings with the application as a running program.
#pragma once

// True when the application's instance marker is absent: it is not running.
// A marker that exists but may not be opened is a running application's.
bool InstanceMarkerAbsent();
// Posts WM_QUIT to the application's main window, if there is one; no wait.
// From then on, where it was posted, every way out of the run owes the
// application a start.
void RequestAppQuit();
// After a quit request: up to 8 probes, 512 ms apart, until the marker is
// gone. True when it went.
bool WaitForAppToQuit();
// Starts the application from its folder; failures are ignored.
void StartApp();
// Starts it, waits for its marker (8 x 512 ms) and then its window
// (11 x 1024 ms), and brings the window to the front.
void StartAppAndActivate();
// The application as the run leaves it, once, on every way out: one that
// still runs is left running (brought to the front when `wanted`), one
// that this run's quit request closed is started again, and one that did
// not run is started when `wanted`.
void LeaveApp(bool wanted);
// What this run has done with the application, process-wide: asked it to
// quit, and dealt with it on the way out (LeaveApp).
struct TAppDealings {
    bool QuitRequested = false;
    bool Left = false;
};
extern TAppDealings AppDealings;
