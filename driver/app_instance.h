// The installer's dealings with the application as a running program.
#pragma once

// True when the application is not running: its marker does not exist.
// A marker that exists but may not be opened is a running application's.
bool ProbeInstanceMapping();
// Posts WM_QUIT to the application's main window, if there is one; no wait.
// True when it was posted: only then may this run have closed it.
bool RequestAppQuit();
// After a quit request: up to 8 probes, 512 ms apart, until the marker is
// gone. True when it went.
bool WaitForAppToQuit();
// Starts the application from its folder; failures are ignored.
void StartApp();
// Starts it, waits for its marker (8 x 512 ms) and then its window
// (11 x 1024 ms), and brings the window to the front.
void StartAppAndActivate();
