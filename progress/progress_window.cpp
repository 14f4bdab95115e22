#include "progress/progress_window.h"

#include <atomic>
#include <utility>

#include "platform/owned_handle.h"
#include "platform/system_library.h"

namespace {

// Shared with the window thread. The caller writes the texts before it
// starts the thread and then waits until the thread has made the window;
// the thread writes the handles and the place before it sets the flag and
// reports. So whoever sees the flag set may use the handles. The place is
// the window thread's to change again when the window's DPI changes.
std::string CaptionText;
std::string LineText;
std::atomic<bool> WindowCreated{false};
HWND MainWindow = nullptr;
HWND Label = nullptr;
HWND Bar = nullptr;  // kept, never used: nothing moves the bar
std::atomic<int> Left{0};
std::atomic<int> Top{0};
std::atomic<int> Width{Progress::WindowWidth};
std::atomic<int> Height{Progress::WindowHeight};

// The window thread's own: the DPI the system font is made for, the DPI
// the window is laid out for, and the system font scaled to that DPI when
// the two differ.
UINT SystemDpi = USER_DEFAULT_SCREEN_DPI;
UINT WindowDpi = USER_DEFAULT_SCREEN_DPI;
TOwnedFont ScaledFont;

constexpr DWORD ClassStyle = CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE;                 // 0x203
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE;  // 0x20009
constexpr DWORD Style = WS_DLGFRAME;                 // overlapped: no system menu, no close box, not yet visible
constexpr DWORD LabelStyle = WS_CHILD | WS_VISIBLE;  // 0x50000000
constexpr DWORD BarStyle = WS_CHILD | WS_VISIBLE | WS_THICKFRAME;  // 0x50040000

// The children's places at 96 dpi; the label is one pixel narrower than the bar.
struct TPlace {
    int x, y, width, height;
};
constexpr TPlace LabelPlace{2, 2, 399, 20};
constexpr TPlace BarPlace{2, 24, 400, 20};

// Half, rounded down.
int HalfDown(int value) { return value >= 0 ? value / 2 : -((1 - value) / 2); }

// A length at `from` dpi, at `to` dpi, rounded to the nearest pixel.
int Scaled(int value, UINT to, UINT from = USER_DEFAULT_SCREEN_DPI) { return MulDiv(value, int(to), int(from)); }
TPlace Scaled(const TPlace& place, UINT dpi) {
    return {Scaled(place.x, dpi), Scaled(place.y, dpi), Scaled(place.width, dpi), Scaled(place.height, dpi)};
}

// Windows draws a DPI-aware program's windows unscaled, so the window
// scales itself: its size at `dpi`, centred on the screen.
void PlaceFor(UINT dpi) {
    WindowDpi = dpi;
    Width = Scaled(Progress::WindowWidth, dpi);
    Height = Scaled(Progress::WindowHeight, dpi);
    Left = HalfDown(GetSystemMetrics(SM_CXSCREEN) - Width);
    Top = HalfDown(GetSystemMetrics(SM_CYSCREEN) - Height);
}

// The system DPI: the primary screen's when the user logged on.
UINT ScreenDpi() {
    const TOwnedScreenDc screen(GetDC(nullptr));
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? UINT(dpi) : USER_DEFAULT_SCREEN_DPI;
}

// The DPI of the window's monitor, which Windows 10 version 1607 and later
// can tell; before, every window is drawn at the system DPI. user32 is
// loaded: the window thread has called it.
UINT MonitorDpi(HWND window) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto dpiForWindow = user32 ? LookupFunction<decltype(&GetDpiForWindow)>(user32, "GetDpiForWindow") : nullptr;
    const UINT dpi = dpiForWindow ? dpiForWindow(window) : 0;
    return dpi ? dpi : SystemDpi;
}

// The label keeps the system font, as it always had, at the system DPI;
// on a monitor of another DPI it gets a copy scaled to it.
void UseFontFor(UINT dpi) {
    TOwnedFont font;
    LOGFONTA system;
    if (dpi != SystemDpi && GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system) == sizeof system) {
        system.lfHeight = Scaled(system.lfHeight, dpi, SystemDpi);
        system.lfWidth = Scaled(system.lfWidth, dpi, SystemDpi);
        font.Reset(CreateFontIndirectA(&system));
    }
    if (!font && !ScaledFont) return;
    SendMessageA(Label, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);  // none: the system font
    // The font the label had, if scaled, is deleted now.
    ScaledFont = std::move(font);
}

// Lays the window out anew for `dpi`, at `corner` or centred.
void Rescale(HWND window, UINT dpi, const RECT* corner) {
    PlaceFor(dpi);
    constexpr UINT Flags = SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(window, nullptr, corner ? int(corner->left) : Left.load(), corner ? int(corner->top) : Top.load(),
                 Width, Height, Flags);
    for (const auto& [child, place] : {std::pair{Label, LabelPlace}, std::pair{Bar, BarPlace}}) {
        const TPlace at = Scaled(place, dpi);
        SetWindowPos(child, nullptr, at.x, at.y, at.width, at.height, Flags);
    }
    UseFontFor(dpi);
}

HWND CreateChild(HWND parent, const char* className, const char* text, DWORD style, const TPlace& place) {
    const TPlace at = Scaled(place, WindowDpi);
    return CreateWindowExA(0, className, text, style, at.x, at.y, at.width, at.height, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            Label = CreateChild(window, "STATIC", LineText.c_str(), LabelStyle, LabelPlace);
            Bar = CreateChild(window, PROGRESS_CLASSA, "", BarStyle, BarPlace);
            return 0;
        case WM_DPICHANGED:  // moved to a monitor of another DPI, or its DPI changed
            Rescale(window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Reports to the waiting Show however the making of the window ends.
class ReadyOnExit {
public:
    explicit ReadyOnExit(HANDLE event) : event_(event) {}
    ~ReadyOnExit() { SetEvent(event_); }
    ReadyOnExit(const ReadyOnExit&) = delete;
    ReadyOnExit& operator=(const ReadyOnExit&) = delete;

private:
    HANDLE event_;
};

}  // namespace

void TSetupForm::Execute() {
    FreeOnTerminate = true;
    {
        ReadyOnExit ready(ready_);
        SystemDpi = ScreenDpi();
        PlaceFor(SystemDpi);
        InitCommonControls();

        HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSEXA windowClass;
        windowClass.cbSize = sizeof windowClass;
        windowClass.style = ClassStyle;
        windowClass.lpfnWndProc = ProgressWindowProc;
        windowClass.cbClsExtra = 4;
        windowClass.cbWndExtra = 4;
        windowClass.hInstance = instance;
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(0));  // the executable has none: null
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        windowClass.lpszMenuName = nullptr;
        windowClass.lpszClassName = Progress::WindowClassName;
        windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(0));
        // Without a class there is no window; a later Show tries again.
        if (!RegisterClassExA(&windowClass)) return;

        // The procedure makes the label and the bar while this call runs.
        MainWindow = CreateWindowExA(ExStyle, Progress::WindowClassName, CaptionText.c_str(), Style, Left, Top, Width,
                                     Height, nullptr, nullptr, instance, nullptr);
        WindowCreated = true;
        // Per monitor, the window's DPI can differ from the system's.
        if (const UINT dpi = MonitorDpi(MainWindow); dpi != WindowDpi) Rescale(MainWindow, dpi, nullptr);
        ShowWindow(MainWindow, SW_SHOWNORMAL);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

namespace Progress {

void Show(const std::string& caption, const std::string& text) {
    if (WindowCreated) {
        SetCaption(caption);
        SetText(text);
        SetWindowPos(MainWindow, HWND_TOPMOST, Left, Top, Width, Height, SWP_SHOWWINDOW);
        return;
    }
    CaptionText = caption;
    LineText = text;
    const TOwnedHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!ready) throw EThread("Cannot create the progress window's event: " + std::to_string(GetLastError()));
    NewThread<TSetupForm>(false, ready.Get());
    if (WaitForSingleObject(ready.Get(), INFINITE) != WAIT_OBJECT_0)
        throw EThread("Cannot wait for the progress window: " + std::to_string(GetLastError()));
}

void Hide() { SetWindowPos(MainWindow, HWND_TOPMOST, Left, Top, Width, Height, SWP_HIDEWINDOW); }

void SetCaption(const std::string& caption) {
    if (WindowCreated)
        SetWindowTextA(MainWindow, caption.c_str());
    else
        CaptionText = caption;
}

void SetText(const std::string& text) { SetWindowTextA(Label, text.c_str()); }

void ForgetWindowForTests() {
    TWindowState start;
    SwapWindowState(start);
}

void SwapWindowState(TWindowState& other) {
    std::swap(CaptionText, other.caption);
    std::swap(LineText, other.line);
    other.created = WindowCreated.exchange(other.created);
    std::swap(MainWindow, other.window);
    std::swap(Label, other.label);
    std::swap(Bar, other.bar);
    other.left = Left.exchange(other.left);
    other.top = Top.exchange(other.top);
    other.width = Width.exchange(other.width);
    other.height = Height.exchange(other.height);
    std::swap(SystemDpi, other.systemDpi);
    std::swap(WindowDpi, other.windowDpi);
    // A font the process had is forgotten, as a window is, not deleted.
    const HFONT font = ScaledFont.Release();
    ScaledFont.Reset(other.scaledFont);
    other.scaledFont = font;
}

}  // namespace Progress
