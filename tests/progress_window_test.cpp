// Covers: progress/progress_window.cpp, runtime/thread.cpp.
// The progress window on its own thread: the class and windows it makes,
// Show, Hide, SetCaption and SetText before and after the window exists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "progress/progress_window.h"
#include "runtime/thread.h"
#include "tests/demo_pc.h"

namespace {

class ProgressWindow : public DemoPc::SimTest {
protected:
    void Screen(int width, int height) {
        pc().systemMetrics[SM_CXSCREEN] = width;
        pc().systemMetrics[SM_CYSCREEN] = height;
    }
    HWND Find(const std::string& className, HWND parent = nullptr) {
        HWND found = nullptr;
        int count = 0;
        for (const auto& [window, state] : pc().windows)
            if (state.alive && state.parent == parent &&
                Sim::UpperAscii(state.className) == Sim::UpperAscii(className)) {
                found = window;
                ++count;
            }
        EXPECT_LE(count, 1) << "one " << className << " window";
        return found;
    }
    Sim::WindowState& Main() {
        HWND window = Find("PlainWindow");
        EXPECT_NE(window, nullptr);
        return pc().windows[window];
    }
    Sim::WindowState& Child(const char* className) {
        HWND window = Find(className, Find("PlainWindow"));
        EXPECT_NE(window, nullptr);
        return pc().windows[window];
    }
    static bool Visible(const Sim::WindowState& w) { return w.showState != SW_HIDE; }
};

TEST_F(ProgressWindow, HideSetTextAndSetCaptionBeforeShowStartNothing) {
    Progress::Hide();
    Progress::SetText("lost");
    Progress::SetCaption("kept");
    EXPECT_EQ(pc().CallCount("CreateThread"), 0);
    EXPECT_TRUE(pc().windows.empty());
    EXPECT_EQ(pc().CallCount("SetWindowTextA"), 1) << "SetText tries the label, which does not exist";
    EXPECT_EQ(pc().CallCount("SetWindowPos"), 1);
}

TEST_F(ProgressWindow, TheFirstShowOpensTheWindowAndReturnsOnceItExists) {
    Progress::SetText("lost");
    Progress::SetCaption("replaced");
    Progress::Show("", "");
    EXPECT_EQ(pc().CallCount("CreateThread"), 1);
    const Sim::WindowState& main = Main();
    EXPECT_EQ(main.text, "");
    EXPECT_TRUE(Visible(main));
    EXPECT_NE(main.thread, 0) << "the window belongs to its own thread";
    EXPECT_EQ(Child("STATIC").text, "");
    EXPECT_EQ(Child("msctls_progress32").text, "");

    // The window exists when Show returns: a second Show changes it.
    Progress::Show("Title", "Line");
    EXPECT_EQ(pc().CallCount("CreateThread"), 1);
    EXPECT_EQ(Main().text, "Title");
    EXPECT_EQ(Child("STATIC").text, "Line");
}

TEST_F(ProgressWindow, TheClassIsRegisteredAsTabled) {
    Progress::Show("Caption", "Text");
    ASSERT_EQ(pc().windowClasses.count("PlainWindow"), 1u);
    const WNDCLASSEXA& c = pc().windowClasses["PlainWindow"].record;
    EXPECT_EQ(c.cbSize, sizeof(WNDCLASSEXA));
    EXPECT_EQ(c.style, 0x203u);
    EXPECT_NE(c.lpfnWndProc, nullptr);
    EXPECT_EQ(c.cbClsExtra, 4);
    EXPECT_EQ(c.cbWndExtra, 4);
    EXPECT_EQ(c.hInstance, Sim::OwnModuleHandle());
    EXPECT_EQ(c.hIcon, nullptr) << "the executable has no icon 0";
    EXPECT_EQ(c.hIconSm, nullptr);
    EXPECT_EQ(c.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(c.hbrBackground, GetStockObject(GRAY_BRUSH));
    EXPECT_EQ(c.lpszMenuName, nullptr);
    EXPECT_EQ(pc().CallCount("LoadIconA"), 2);
}

TEST_F(ProgressWindow, TheWindowAndItsChildrenAreMadeAsTabled) {
    Screen(1024, 768);
    Progress::Show("Caption", "Text");
    const Sim::WindowState& main = Main();
    EXPECT_EQ(main.className, "PlainWindow");
    EXPECT_EQ(main.exStyle, 0x20009u);
    EXPECT_EQ(main.style, 0x00400000u);
    EXPECT_EQ(main.parent, nullptr);
    EXPECT_EQ(main.menu, nullptr);
    EXPECT_EQ(main.instance, Sim::OwnModuleHandle());
    EXPECT_EQ(main.text, "Caption");
    EXPECT_TRUE(main.topmost);
    EXPECT_EQ((std::vector<int>{main.x, main.y, main.width, main.height}), (std::vector<int>{308, 346, 408, 76}));

    const struct {
        const char* className;
        std::string text;
        DWORD style;
        std::vector<int> place;
    } children[] = {
        {"STATIC", "Text", 0x50000000, {2, 2, 399, 20}},
        {"msctls_progress32", "", 0x50040000, {2, 24, 400, 20}},
    };
    for (const auto& c : children) {
        const Sim::WindowState& child = Child(c.className);
        EXPECT_EQ(child.text, c.text) << c.className;
        EXPECT_EQ(child.style, c.style) << c.className;
        EXPECT_EQ(child.exStyle, 0u) << c.className;
        EXPECT_EQ(child.menu, nullptr) << c.className;
        EXPECT_EQ(child.instance, Sim::OwnModuleHandle()) << c.className;
        EXPECT_EQ((std::vector<int>{child.x, child.y, child.width, child.height}), c.place) << c.className;
        EXPECT_EQ(child.thread, main.thread) << c.className;
        EXPECT_TRUE(Visible(child)) << c.className;
    }
    EXPECT_EQ(pc().CallCount("ShowWindow"), 1);
}

TEST_F(ProgressWindow, TheWindowIsCentredWithHalvesRoundedDown) {
    const struct {
        int width, height, left, top;
    } cases[] = {
        {1920, 1080, 756, 502}, {1024, 768, 308, 346}, {800, 600, 196, 262}, {1025, 769, 308, 346}, {408, 76, 0, 0},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        Progress::ForgetWindowForTests();
        Screen(c.width, c.height);
        Progress::Show("", "");
        EXPECT_EQ(Main().x, c.left) << c.width << " x " << c.height;
        EXPECT_EQ(Main().y, c.top) << c.width << " x " << c.height;
    }
}

TEST_F(ProgressWindow, ShowOnAShownWindowReplacesBothTextsAndPutsItBack) {
    Screen(1920, 1080);
    Progress::Show("Old title", "Old line");
    // The user drags it away; something else goes on top.
    Main().x = 10;
    Main().y = 20;
    Main().topmost = false;
    Progress::Show("", "");
    const Sim::WindowState& main = Main();
    EXPECT_EQ(main.text, "") << "an empty caption empties the title";
    EXPECT_EQ(Child("STATIC").text, "") << "an empty text empties the line";
    EXPECT_EQ((std::vector<int>{main.x, main.y, main.width, main.height}), (std::vector<int>{756, 502, 408, 76}));
    EXPECT_TRUE(main.topmost);
    EXPECT_TRUE(Visible(main));
}

TEST_F(ProgressWindow, HideThenShowWithNewTexts) {
    Progress::Show("First", "one");
    Progress::Hide();
    EXPECT_FALSE(Visible(Main()));
    EXPECT_TRUE(Visible(Child("STATIC"))) << "the children keep their own state";
    Progress::SetCaption("Hidden title");
    Progress::SetText("hidden line");
    EXPECT_EQ(Main().text, "Hidden title");
    EXPECT_FALSE(Visible(Main())) << "texts do not show it";
    Progress::Show("Second", "two");
    EXPECT_TRUE(Visible(Main()));
    EXPECT_EQ(Main().text, "Second");
    EXPECT_EQ(Child("STATIC").text, "two");
    Progress::Hide();
    Progress::Hide();
    EXPECT_FALSE(Visible(Main()));
}

TEST_F(ProgressWindow, ChangesAreMadeByTheWindowsOwnThread) {
    Progress::Show("A", "B");
    const int windowThread = Main().thread;
    ASSERT_NE(windowThread, 0);
    Progress::SetText("C");
    Progress::SetCaption("D");
    EXPECT_EQ(Child("STATIC").text, "C");
    EXPECT_EQ(Main().text, "D");
    // The main thread asked; the window thread ran the procedures.
    for (const Sim::WindowState* w : {&Main(), &Child("STATIC")}) {
        ASSERT_FALSE(w->received.empty());
        EXPECT_EQ(w->received.back(), UINT(WM_SETTEXT));
        EXPECT_EQ(w->receivedOn, std::vector<int>(w->received.size(), windowThread));
    }
}

TEST_F(ProgressWindow, NothingEverMovesTheBar) {
    Progress::Show("A", "B");
    Progress::Hide();
    Progress::Show("C", "D");
    Progress::SetText("E");
    EXPECT_EQ(Child("msctls_progress32").received, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(pc().CallCount("DispatchMessageA"), 0);
}

TEST_F(ProgressWindow, AFailedRegistrationLeavesNoWindowAndALaterShowTriesAgain) {
    pc().Inject("RegisterClassExA", 1, ERROR_NOT_ENOUGH_MEMORY);
    Progress::Show("A", "B");
    EXPECT_TRUE(pc().windows.empty());
    EXPECT_EQ(pc().CallCount("CreateWindowExA"), 0);
    Progress::Hide();
    Progress::SetText("lost");
    Progress::Show("C", "D");
    EXPECT_EQ(pc().CallCount("CreateThread"), 2);
    EXPECT_EQ(Main().text, "C");
    EXPECT_EQ(Child("STATIC").text, "D");
    EXPECT_TRUE(Visible(Main()));
}

TEST_F(ProgressWindow, AThreadThatCannotStartIsRaisedToTheCaller) {
    const char* steps[] = {"CreateEventA", "CreateThread", "ResumeThread"};
    for (const char* step : steps) {
        Sim::Reset();
        Progress::ForgetWindowForTests();
        pc().Inject(step, 1, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_THROW(Progress::Show("A", "B"), EThread) << step;
        EXPECT_TRUE(pc().windows.empty()) << step;
        int events = 0;
        for (const auto& [value, handle] : pc().handles)
            if (handle.kind == Sim::Machine::Handle::Event) ++events;
        EXPECT_EQ(events, 0) << step << ": the event is closed";
    }
}

TEST_F(ProgressWindow, TheProgressClassNeedsTheCommonControls) {
    Progress::Show("A", "B");
    const std::vector<std::string> order = [&] {
        std::vector<std::string> calls;
        for (const auto& call : pc().calls)
            if (call.function == "InitCommonControls" || call.function == "CreateWindowExA")
                calls.push_back(call.function + " " + call.detail);
        return calls;
    }();
    EXPECT_EQ(order, (std::vector<std::string>{"InitCommonControls ", "CreateWindowExA PlainWindow",
                                               "CreateWindowExA STATIC", "CreateWindowExA msctls_progress32"}));
}

TEST_F(ProgressWindow, TheThreadStillRunsWhenTheTestEnds) {
    Progress::Show("A", "B");
    // The window and its thread last until the process ends; a new machine
    // ends them where they wait.
    Sim::Reset();
    Progress::ForgetWindowForTests();
    EXPECT_TRUE(pc().windows.empty());
    Progress::Show("C", "D");
    EXPECT_EQ(Main().text, "C");
}

// Sizes, places and the label's font against the window's DPI, checked the
// same way after every step: the window thread did the work, the screen's
// DC was given back, and the one font made, if any, is the label's.
class ProgressWindowDpi : public ProgressWindow {
protected:
    struct TLook {
        std::vector<int> main, label, bar;
        LONG fontHeight;  // 0: the system font
    };
    void ExpectLook(const TLook& want, const std::string& step) {
        const Sim::WindowState& main = Main();
        EXPECT_EQ((std::vector<int>{main.x, main.y, main.width, main.height}), want.main) << step;
        const Sim::WindowState& label = Child("STATIC");
        const Sim::WindowState& bar = Child("msctls_progress32");
        EXPECT_EQ((std::vector<int>{label.x, label.y, label.width, label.height}), want.label) << step;
        EXPECT_EQ((std::vector<int>{bar.x, bar.y, bar.width, bar.height}), want.bar) << step;
        EXPECT_EQ(pc().screenDcs, 0) << step;
        if (want.fontHeight == 0) {
            EXPECT_EQ(label.font, nullptr) << step;
            EXPECT_TRUE(pc().fonts.empty()) << step;
        } else {
            ASSERT_EQ(pc().fonts.size(), 1u) << step;
            ASSERT_EQ(pc().fonts.count(label.font), 1u) << step;
            const LOGFONTA& font = pc().fonts[label.font];
            EXPECT_EQ(font.lfHeight, want.fontHeight) << step;
            EXPECT_EQ(std::string(font.lfFaceName), "System") << step;
            EXPECT_EQ(font.lfWeight, 700) << step;
        }
        for (const Sim::WindowState* w : {&main, &label})
            for (int thread : w->receivedOn) EXPECT_EQ(thread, main.thread) << step;
    }
};

TEST_F(ProgressWindowDpi, SizesAndFontFollowTheMonitorsDpi) {
    const struct {
        const char* what;
        UINT systemDpi, monitorDpi;
        bool perMonitor;  // user32 tells a window's DPI (Windows 10 version 1607 and later)
        TLook look;
    } cases[] = {
        {"96 dpi: as it always was", 96, 96, true, {{308, 346, 408, 76}, {2, 2, 399, 20}, {2, 24, 400, 20}, 0}},
        {"192 dpi", 192, 192, true, {{104, 308, 816, 152}, {4, 4, 798, 40}, {4, 48, 800, 40}, 0}},
        {"144 dpi, halves rounded up", 144, 144, true, {{206, 327, 612, 114}, {3, 3, 599, 30}, {3, 36, 600, 30}, 0}},
        {"a 192-dpi monitor on a 96-dpi system",
         96,
         192,
         true,
         {{104, 308, 816, 152}, {4, 4, 798, 40}, {4, 48, 800, 40}, 32}},
        {"a 96-dpi monitor on a 192-dpi system",
         192,
         96,
         true,
         {{308, 346, 408, 76}, {2, 2, 399, 20}, {2, 24, 400, 20}, 16}},
        {"Windows 8: the system DPI for every window",
         120,
         192,
         false,
         {{257, 336, 510, 95}, {3, 3, 499, 25}, {3, 30, 500, 25}, 0}},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        Progress::ForgetWindowForTests();
        pc().systemDpi = c.systemDpi;
        pc().monitorDpi = c.monitorDpi;
        pc().dpiForWindowExported = c.perMonitor;
        Progress::Show("Caption", "Text");
        ExpectLook(c.look, c.what);
        Progress::Hide();
        Progress::Show("Caption", "Text");
        ExpectLook(c.look, std::string(c.what) + ", shown again");
        EXPECT_EQ(pc().CallCount("SendMessageA"), c.look.fontHeight ? 1 : 0) << c.what;
    }
}

TEST_F(ProgressWindowDpi, MovingBetweenMonitorsScalesItAgain) {
    Progress::Show("Caption", "Text");
    HWND window = Find("PlainWindow");
    const struct {
        UINT dpi;
        RECT suggested;
        TLook look;
    } moves[] = {
        {192, {1500, 40, 2316, 192}, {{1500, 40, 816, 152}, {4, 4, 798, 40}, {4, 48, 800, 40}, 32}},
        {144, {1600, 50, 2212, 164}, {{1600, 50, 612, 114}, {3, 3, 599, 30}, {3, 36, 600, 30}, 24}},
        {96, {300, 300, 708, 376}, {{300, 300, 408, 76}, {2, 2, 399, 20}, {2, 24, 400, 20}, 0}},
    };
    for (const auto& move : moves) {
        Sim::ChangeDpi(window, move.dpi, move.suggested);
        ExpectLook(move.look, "moved to " + std::to_string(move.dpi) + " dpi");
        // Show puts it back in the middle, at the size for its DPI.
        Progress::Show("Caption", "Text");
        TLook centred = move.look;
        centred.main[0] = (1024 - centred.main[2]) / 2;
        centred.main[1] = (768 - centred.main[3]) / 2;
        ExpectLook(centred, "shown again at " + std::to_string(move.dpi) + " dpi");
    }
}

TEST_F(ProgressWindowDpi, WhatFailsLeavesTheSystemFontOrTheSystemDpi) {
    const struct {
        const char* function;
        TLook look;
    } cases[] = {
        {"CreateFontIndirectA", {{104, 308, 816, 152}, {4, 4, 798, 40}, {4, 48, 800, 40}, 0}},
        {"GetDpiForWindow", {{308, 346, 408, 76}, {2, 2, 399, 20}, {2, 24, 400, 20}, 0}},
        // No screen DPI: 96 is assumed, and the monitor's is taken as it comes.
        {"GetDC", {{104, 308, 816, 152}, {4, 4, 798, 40}, {4, 48, 800, 40}, 32}},
    };
    for (const auto& c : cases) {
        Sim::Reset();
        Progress::ForgetWindowForTests();
        pc().monitorDpi = 192;
        pc().Inject(c.function, 0, ERROR_NOT_ENOUGH_MEMORY);
        Progress::Show("Caption", "Text");
        ExpectLook(c.look, std::string(c.function) + " fails");
    }
}

}  // namespace
