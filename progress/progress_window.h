// The progress window: a small always-on-top window with a title, one line
// of text and a progress bar, centred on the screen. It runs on a thread of
// its own, with its own message loop, so it keeps being drawn while the
// caller is busy. One window per process; nothing moves the bar. Its sizes
// and font follow the DPI of its monitor; at 96 dpi it is 408 x 76 pixels.
//
// The operations may be called whether or not a window exists, from the
// thread that calls Show (the main thread); they change the window through
// the windowing system, which hands each change to the window's thread and
// waits until that thread has made it.
#pragma once

#include <string>

#include "platform/win32.h"
#include "runtime/thread.h"

namespace Progress {

inline constexpr int WindowWidth = 408;  // outer size of the main window at 96 dpi
inline constexpr int WindowHeight = 76;
inline constexpr char WindowClassName[] = "PlainWindow";

// Before the first window: stores both texts, starts the window thread and
// returns once the window exists (or could not be made), so a second Show
// never starts a second thread. Raises EThread when the thread cannot be
// started. With a window: gives it both texts and shows it again at its
// place, on top.
void Show(const std::string& caption, const std::string& text);
// Hides the window; nothing before there is one.
void Hide();
// The window's title; before the window exists, the title it will get.
void SetCaption(const std::string& caption);
// The text line; lost when there is no window yet.
void SetText(const std::string& text);

// The module's values, as the process keeps them; a new record holds the
// start-up's: no window yet, laid out for 96 dpi.
struct TWindowState {
    std::string caption, line;
    bool created = false;
    HWND window = nullptr, label = nullptr, bar = nullptr;
    int left = 0, top = 0, width = WindowWidth, height = WindowHeight;
    UINT systemDpi = USER_DEFAULT_SCREEN_DPI, windowDpi = USER_DEFAULT_SCREEN_DPI;
    HFONT scaledFont = nullptr;
};
// Trades the module's values for `other`'s: a window the process had is
// forgotten, not closed.
void SwapWindowState(TWindowState& other);
// The module as at start-up, for tests that begin on a new simulated PC: a
// window of the machine before is forgotten, not closed.
void ForgetWindowForTests();

}  // namespace Progress

// The thread that makes and runs the progress window. It destroys itself
// when its message loop ends.
class TSetupForm : public TThread {
public:
    // `ready` is set once the window exists or could not be made.
    explicit TSetupForm(HANDLE ready) : ready_(ready) {}

protected:
    void Execute() override;

private:
    HANDLE ready_;
};
