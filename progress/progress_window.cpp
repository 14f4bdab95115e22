#include "progress/progress_window.h"

#include <atomic>

#include "platform/owned_handle.h"

namespace {

// Shared with the window thread. The caller writes the texts before it
// starts the thread and then waits until the thread has made the window;
// the thread writes the handles and the place before it sets the flag and
// reports. So whoever sees the flag set may use the handles.
std::string CaptionText;
std::string LineText;
std::atomic<bool> WindowCreated{false};
HWND MainWindow = nullptr;
HWND Label = nullptr;
HWND Bar = nullptr;  // kept, never used: nothing moves the bar
int Left = 0;
int Top = 0;

constexpr DWORD ClassStyle = CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE;                 // 0x203
constexpr DWORD ExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE;  // 0x20009
constexpr DWORD Style = WS_DLGFRAME;                 // overlapped: no system menu, no close box, not yet visible
constexpr DWORD LabelStyle = WS_CHILD | WS_VISIBLE;  // 0x50000000
constexpr DWORD BarStyle = WS_CHILD | WS_VISIBLE | WS_THICKFRAME;  // 0x50040000

// Half, rounded down.
int HalfDown(int value) { return value >= 0 ? value / 2 : -((1 - value) / 2); }

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            HINSTANCE instance = GetModuleHandleA(nullptr);
            // The label is one pixel narrower than the bar.
            Label = CreateWindowExA(0, "STATIC", LineText.c_str(), LabelStyle, 2, 2, 399, 20, window, nullptr, instance,
                                    nullptr);
            Bar = CreateWindowExA(0, PROGRESS_CLASSA, "", BarStyle, 2, 24, 400, 20, window, nullptr, instance, nullptr);
            return 0;
        }
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
        Left = HalfDown(GetSystemMetrics(SM_CXSCREEN) - Progress::WindowWidth);
        Top = HalfDown(GetSystemMetrics(SM_CYSCREEN) - Progress::WindowHeight);
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
        MainWindow =
            CreateWindowExA(ExStyle, Progress::WindowClassName, CaptionText.c_str(), Style, Left, Top,
                            Progress::WindowWidth, Progress::WindowHeight, nullptr, nullptr, instance, nullptr);
        WindowCreated = true;
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
        SetWindowPos(MainWindow, HWND_TOPMOST, Left, Top, WindowWidth, WindowHeight, SWP_SHOWWINDOW);
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

void Hide() { SetWindowPos(MainWindow, HWND_TOPMOST, Left, Top, WindowWidth, WindowHeight, SWP_HIDEWINDOW); }

void SetCaption(const std::string& caption) {
    if (WindowCreated)
        SetWindowTextA(MainWindow, caption.c_str());
    else
        CaptionText = caption;
}

void SetText(const std::string& text) { SetWindowTextA(Label, text.c_str()); }

void ForgetWindowForTests() {
    WindowCreated = false;
    MainWindow = Label = Bar = nullptr;
    Left = Top = 0;
    CaptionText.clear();
    LineText.clear();
}

}  // namespace Progress
