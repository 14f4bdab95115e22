// Covers: platform/win32.h, host half. Window classes, windows and message loops of the installer's own process.
//
// A window belongs to the simulated thread that created it, and only that
// thread runs its procedure: a call from another thread that changes the
// window (a new text, a new place or visibility) is handed to the owner's
// message loop, and the caller waits until the owner has handled it, as
// SendMessage between threads does.
//
// A procedure is given the messages whose handling matters here: WM_NCCREATE
// and WM_CREATE while the window is created, WM_SETTEXT for a new text, and
// WM_DESTROY and WM_NCDESTROY when creation is refused. The many others
// Windows sends along the way (sizing, painting, activation, position
// changes) are left out, so DefWindowProcA knows only these.
//
// The system classes "STATIC" (always) and "msctls_progress32" (once
// InitCommonControls has been called, as comctl32 registers it) are
// provided; neither reacts to anything but its text and its font.
//
// The screen's device context answers only for its DPI; fonts are the stock
// system font, made for the system DPI, and those made from a description.
// A window's DPI is its monitor's (the installer is per-monitor aware):
// ChangeDpi moves one to a monitor of another DPI and sends WM_DPICHANGED.
#include <algorithm>
#include <cstring>

#include "tests/sim/sim_threads.h"

namespace Sim {

namespace {

const HCURSOR ArrowCursor = reinterpret_cast<HCURSOR>(std::uintptr_t(0x10003));
const HDC ScreenDc = reinterpret_cast<HDC>(std::uintptr_t(0x01010050));

HGDIOBJ StockObject(int object) { return reinterpret_cast<HGDIOBJ>(std::uintptr_t(0x01900010 + 4 * object)); }

// The stock system font as GetObjectA describes it: "System", bold, 16 by
// 7 pixels at 96 dpi, in the character set of the ANSI code page.
LOGFONTA SystemFont() {
    LOGFONTA font{};
    font.lfHeight = LONG(16 * pc().systemDpi / USER_DEFAULT_SCREEN_DPI);
    font.lfWidth = LONG(7 * pc().systemDpi / USER_DEFAULT_SCREEN_DPI);
    font.lfWeight = 700;
    font.lfCharSet = pc().ansiCodePage == 1251 ? 204 : 0;
    font.lfPitchAndFamily = 34;
    std::strcpy(font.lfFaceName, "System");
    return font;
}

std::string ResourceName(LPCSTR id) {
    if (IsIntResource(id)) return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(id));
    return UpperAscii(id);
}

WindowState* LiveWindow(HWND window) {
    auto it = pc().windows.find(window);
    if (it == pc().windows.end() || !it->second.alive) return nullptr;
    return &it->second;
}

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowState* state = LiveWindow(window);
    if (!state || !state->procedure) return 0;
    state->received.push_back(message);
    state->receivedOn.push_back(CurrentThread());
    return state->procedure(window, message, wParam, lParam);
}

// Runs `work` on the thread that owns the window, waiting for it there.
LRESULT OnOwnerThread(const WindowState& state, const std::function<LRESULT()>& work) {
    if (state.thread == CurrentThread()) return work();
    SimThread* owner = ThreadById(state.thread);
    if (!owner || owner->finished) return 0;
    auto sent = std::make_shared<SentWork>();
    sent->work = work;
    owner->sent.push_back(sent);
    if (!WaitUntil([sent] { return sent->done; })) {
        Unmodelled("a message to a window whose thread never takes it");
        return 0;
    }
    return sent->result;
}

// The procedure of the system classes: a text and a font, nothing else.
LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETFONT) {
        LiveWindow(window)->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

struct ClassInfo {
    std::string name;
    WNDPROC procedure = nullptr;
};

std::optional<ClassInfo> FindClass(const std::string& name, HINSTANCE instance) {
    auto it = pc().windowClasses.find(name);
    if (it != pc().windowClasses.end() && it->second.record.hInstance == instance)
        return ClassInfo{it->second.name, it->second.record.lpfnWndProc};
    if (!NameLess{}(name, "STATIC") && !NameLess{}("STATIC", name)) return ClassInfo{"Static", ControlProcedure};
    if (pc().commonControls && !NameLess{}(name, PROGRESS_CLASSA) && !NameLess{}(PROGRESS_CLASSA, name))
        return ClassInfo{PROGRESS_CLASSA, ControlProcedure};
    return std::nullopt;
}

}  // namespace

}  // namespace Sim

using Sim::pc;

HICON WINAPI LoadIconA(HINSTANCE module, LPCSTR name) {
    if (auto e = pc().Enter("LoadIconA", Sim::ResourceName(name))) return Sim::Fail(*e, nullptr);
    if (module != Sim::OwnModuleHandle()) Sim::Unmodelled("LoadIconA other than from the own module");
    // An icon is an RT_GROUP_ICON resource of that name.
    bool typeSeen = false;
    for (const auto& r : pc().resources) {
        if (r.type != "#14") continue;
        typeSeen = true;
        if (r.name == Sim::ResourceName(name)) Sim::Unmodelled("LoadIconA of an icon the module has");
    }
    return Sim::Fail(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND, nullptr);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE module, LPCSTR name) {
    pc().Enter("LoadCursorA", Sim::ResourceName(name));
    if (module || name != IDC_ARROW) Sim::Unmodelled("LoadCursorA other than the system's arrow");
    return Sim::ArrowCursor;
}

HGDIOBJ WINAPI GetStockObject(int object) {
    pc().Enter("GetStockObject", std::to_string(object));
    // WHITE_BRUSH (0) to DC_PEN (19); 9 was never assigned.
    if (object < 0 || object > 19 || object == 9) return nullptr;
    return Sim::StockObject(object);
}

HDC WINAPI GetDC(HWND window) {
    if (pc().Enter("GetDC", "")) return nullptr;  // fails without an error code
    if (window) Sim::Unmodelled("GetDC of a window");
    ++pc().screenDcs;
    return Sim::ScreenDc;
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
    pc().Enter("ReleaseDC", "");
    if (window || dc != Sim::ScreenDc || pc().screenDcs == 0) return 0;
    --pc().screenDcs;
    return 1;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    pc().Enter("GetDeviceCaps", std::to_string(index));
    if (dc != Sim::ScreenDc || pc().screenDcs == 0) return 0;
    if (index != LOGPIXELSY) Sim::Unmodelled("GetDeviceCaps other than LOGPIXELSY");
    return int(pc().systemDpi);
}

UINT WINAPI GetDpiForWindow(HWND window) {
    if (auto e = pc().Enter("GetDpiForWindow", "")) return Sim::Fail(*e, 0u);
    if (!pc().dpiForWindowExported) Sim::Unmodelled("GetDpiForWindow called where it does not exist");
    const Sim::WindowState* state = Sim::LiveWindow(window);
    if (!state) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, 0u);
    return state->dpi;
}

// A short buffer gets the description's first bytes, as on Windows.
int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer) {
    pc().Enter("GetObjectA", "");
    LOGFONTA font;
    if (object == Sim::StockObject(SYSTEM_FONT)) {
        font = Sim::SystemFont();
    } else if (auto made = pc().fonts.find(static_cast<HFONT>(object)); made != pc().fonts.end()) {
        font = made->second;
    } else {
        Sim::Unmodelled("GetObjectA of anything but a font");
        return 0;
    }
    if (!buffer) return int(sizeof font);
    const int copied = size < int(sizeof font) ? std::max(size, 0) : int(sizeof font);
    std::memcpy(buffer, &font, std::size_t(copied));
    return copied;
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font) {
    if (pc().Enter("CreateFontIndirectA", font ? font->lfFaceName : "")) return nullptr;
    if (!font) return nullptr;
    HFONT made = reinterpret_cast<HFONT>(std::uintptr_t(0x010A0000) + 4 * pc().calls.size());
    pc().fonts[made] = *font;
    return made;
}

// Deleting a stock object does nothing and succeeds.
BOOL WINAPI DeleteObject(HGDIOBJ object) {
    pc().Enter("DeleteObject", "");
    if (object == Sim::StockObject(SYSTEM_FONT)) return TRUE;
    return pc().fonts.erase(static_cast<HFONT>(object)) ? TRUE : FALSE;
}

void WINAPI InitCommonControls() {
    pc().Enter("InitCommonControls", "");
    pc().commonControls = true;
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    Sim::Machine& m = pc();
    const char* name = windowClass && !Sim::IsIntResource(windowClass->lpszClassName) ? windowClass->lpszClassName : "";
    if (auto e = m.Enter("RegisterClassExA", name)) return Sim::Fail(*e, 0);
    if (!windowClass || !*name) Sim::Unmodelled("RegisterClassExA without a class name");
    if (windowClass->cbSize != sizeof(WNDCLASSEXA)) return Sim::Fail(ERROR_INVALID_PARAMETER, 0);
    if (!windowClass->lpfnWndProc || windowClass->hInstance != Sim::OwnModuleHandle())
        Sim::Unmodelled("RegisterClassExA without a procedure, or for another module");
    if (m.windowClasses.count(name)) return Sim::Fail(ERROR_CLASS_ALREADY_EXISTS, 0);
    Sim::WindowClass& c = m.windowClasses[name];
    c.record = *windowClass;
    c.name = name;
    if (windowClass->lpszMenuName && !Sim::IsIntResource(windowClass->lpszMenuName))
        c.menuName = windowClass->lpszMenuName;
    c.record.lpszClassName = c.name.c_str();
    c.record.lpszMenuName = windowClass->lpszMenuName ? c.menuName.c_str() : nullptr;
    c.atom = ATOM(0xC000 + m.windowClasses.size());
    return c.atom;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE module, LPVOID parameter) {
    Sim::Machine& m = pc();
    const std::string cls = className && !Sim::IsIntResource(className) ? className : "";
    if (auto e = m.Enter("CreateWindowExA", cls)) return Sim::Fail(*e, nullptr);
    if (cls.empty()) Sim::Unmodelled("CreateWindowExA with a class atom");
    if (style & WS_POPUP) Sim::Unmodelled("CreateWindowExA of a pop-up window");
    if ((style & WS_CHILD) && !parent) return Sim::Fail(ERROR_TLW_WITH_WSCHILD, nullptr);
    if (parent && !Sim::LiveWindow(parent)) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, nullptr);
    if (!(style & WS_CHILD) && (parent || menu)) Sim::Unmodelled("CreateWindowExA of an owned window or with a menu");
    const std::optional<Sim::ClassInfo> info = Sim::FindClass(cls, module);
    if (!info) return Sim::Fail(ERROR_CANNOT_FIND_WND_CLASS, nullptr);
    HWND window = reinterpret_cast<HWND>(m.nextWindow);
    m.nextWindow += 0x10;
    Sim::WindowState& state = m.windows[window];
    state.className = info->name;
    state.showState = SW_HIDE;
    state.procedure = info->procedure;
    state.thread = Sim::CurrentThread();
    state.style = style;
    state.exStyle = exStyle;
    state.x = x;
    state.y = y;
    state.width = width;
    state.height = height;
    state.parent = parent;
    state.menu = menu;
    state.instance = module;
    state.topmost = (exStyle & WS_EX_TOPMOST) != 0;
    state.dpi = parent ? Sim::LiveWindow(parent)->dpi : m.monitorDpi;

    CREATESTRUCTA create{parameter, module, menu,        parent,     height,    width,
                         y,         x,      LONG(style), windowName, className, exStyle};
    const LPARAM lParam = reinterpret_cast<LPARAM>(&create);
    bool refused = Sim::Deliver(window, WM_NCCREATE, 0, lParam) == FALSE;
    if (!refused && Sim::Deliver(window, WM_CREATE, 0, lParam) == -1) {
        Sim::Deliver(window, WM_DESTROY, 0, 0);
        refused = true;
    }
    if (refused) {
        Sim::Deliver(window, WM_NCDESTROY, 0, 0);
        m.windows.erase(window);
        return Sim::Fail(0, HWND(nullptr));
    }
    if (style & WS_VISIBLE) m.windows[window].showState = SW_SHOWNORMAL;
    return window;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM lParam) {
    pc().Enter("DefWindowProcA", std::to_string(message));
    Sim::WindowState* state = Sim::LiveWindow(window);
    if (!state) return 0;
    switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            if (create->lpszName && Sim::IsIntResource(create->lpszName)) Sim::Unmodelled("a window text by ordinal");
            state->text = create->lpszName ? create->lpszName : "";
            return TRUE;
        }
        case WM_SETTEXT: {
            const char* text = reinterpret_cast<const char*>(lParam);
            state->text = text ? text : "";
            return TRUE;
        }
        case WM_CREATE:
        case WM_DESTROY:
        case WM_NCDESTROY:
            return 0;
        default:
            Sim::Unmodelled("DefWindowProcA of message " + std::to_string(message));
            return 0;
    }
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
    if (auto e = pc().Enter("GetMessageA", "")) return Sim::Fail(*e, -1);
    if (!message || window || filterMin || filterMax) Sim::Unmodelled("GetMessageA with a filter");
    Sim::SimThread& self = *Sim::ThreadById(Sim::CurrentThread());
    while (true) {
        // Messages sent from other threads are handled here, not returned.
        while (!self.sent.empty()) {
            std::shared_ptr<Sim::SentWork> sent = self.sent.front();
            self.sent.pop_front();
            sent->result = sent->work();
            sent->done = true;
        }
        if (!self.posted.empty()) {
            *message = self.posted.front();
            self.posted.pop_front();
            return TRUE;
        }
        if (self.quitPosted) {
            self.quitPosted = false;
            std::memset(message, 0, sizeof *message);
            message->message = WM_QUIT;
            message->wParam = WPARAM(self.quitCode);
            return FALSE;
        }
        if (!Sim::WaitUntil([&self] { return !self.sent.empty() || !self.posted.empty() || self.quitPosted; })) {
            Sim::Unmodelled("GetMessageA on thread 0 with nothing that could ever arrive");
            return -1;
        }
    }
}

BOOL WINAPI TranslateMessage(const MSG* message) {
    pc().Enter("TranslateMessage", "");
    // Only key messages are translated, and the model has no keyboard.
    if (message && message->message >= 0x0100 && message->message <= 0x0109)
        Sim::Unmodelled("TranslateMessage of a key message");
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message) {
    pc().Enter("DispatchMessageA", message ? std::to_string(message->message) : "");
    if (!message || !message->hwnd) return 0;
    return Sim::Deliver(message->hwnd, message->message, message->wParam, message->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    pc().Enter("PostQuitMessage", std::to_string(exitCode));
    Sim::SimThread& self = *Sim::ThreadById(Sim::CurrentThread());
    self.quitPosted = true;
    self.quitCode = exitCode;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (auto e = pc().Enter("SetWindowTextA", text ? text : "")) return Sim::Fail(*e, FALSE);
    Sim::WindowState* state = Sim::LiveWindow(window);
    if (!state) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!state->procedure) Sim::Unmodelled("SetWindowTextA on a window of another process");
    const LPARAM lParam = reinterpret_cast<LPARAM>(text);
    return Sim::OnOwnerThread(*state, [window, lParam] { return Sim::Deliver(window, WM_SETTEXT, 0, lParam); }) != 0;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    if (auto e = pc().Enter("SetWindowPos", std::to_string(flags))) return Sim::Fail(*e, FALSE);
    Sim::WindowState* state = Sim::LiveWindow(window);
    if (!state) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!state->procedure) Sim::Unmodelled("SetWindowPos on a window of another process");
    // To the top and shown or hidden, or only a new place and size (the
    // z-order kept, so insertAfter is ignored).
    const bool placeOnly = flags == (SWP_NOZORDER | SWP_NOACTIVATE);
    if (!placeOnly && (insertAfter != HWND_TOPMOST || (flags != SWP_SHOWWINDOW && flags != SWP_HIDEWINDOW)))
        Sim::Unmodelled("SetWindowPos other than to the top, shown or hidden, or a new place");
    return Sim::OnOwnerThread(*state, [=] {
               Sim::WindowState* w = Sim::LiveWindow(window);
               if (!w) return LRESULT(FALSE);
               w->x = x;
               w->y = y;
               w->width = width;
               w->height = height;
               if (placeOnly) return LRESULT(TRUE);
               w->topmost = true;
               w->showState = (flags & SWP_HIDEWINDOW) ? SW_HIDE : SW_SHOWNORMAL;
               return LRESULT(TRUE);
           }) != 0;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (auto e = pc().Enter("SendMessageA", std::to_string(message))) return Sim::Fail(*e, 0);
    Sim::WindowState* state = Sim::LiveWindow(window);
    if (!state) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, 0);
    if (!state->procedure) Sim::Unmodelled("SendMessageA to a window of another process");
    if (message != WM_SETFONT) Sim::Unmodelled("SendMessageA of message " + std::to_string(message));
    return Sim::OnOwnerThread(*state, [=] { return Sim::Deliver(window, message, wParam, lParam); });
}

void Sim::ChangeDpi(HWND window, UINT dpi, RECT suggested) {
    WindowState* state = LiveWindow(window);
    if (!state || state->parent) Unmodelled("ChangeDpi of anything but a live top-level window");
    state->dpi = dpi;
    for (auto& [child, childState] : pc().windows)
        if (childState.parent == window) childState.dpi = dpi;
    OnOwnerThread(*state, [=] {
        RECT place = suggested;  // the procedure may read it until it returns
        return Deliver(window, WM_DPICHANGED, (WPARAM(dpi) << 16) | dpi, reinterpret_cast<LPARAM>(&place));
    });
}
