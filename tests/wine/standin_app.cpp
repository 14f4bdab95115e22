// Stand-in for the main application, installed into the test installation
// as Lexomir.exe. It does exactly what the installer relies on: it holds the
// running marker, owns a top-level window of the main window class and ends
// its message loop on WM_QUIT. Everything that happens to it is appended to
// a log, one line per event, so a scenario can tell whether it was asked to
// quit, started again, restored and brought to the front.
//
// Log line: "<pid> <tick> <event> [detail]". The log is
// %LEXOMIR_STANDIN_LOG% when that is set, else standin.log beside the exe.
// Scenarios set the variable to a path outside the application's folder,
// because the installer measures that folder and a growing log would make
// the measured size depend on timing.
//
// Options (command line, or LEXOMIR_STANDIN_OPTIONS for instances that the
// installer starts without arguments):
//   --minimized   show the main window minimized and inactive, so that only
//                 somebody else's SW_SHOWNORMAL / SetForegroundWindow can
//                 restore it and bring it to the front
//   --holder      be a separate background process (no marker, no window)
//                 that opens lxn.cok beside the exe without sharing and keeps
//                 it open, so that writing the file must fail
//   --linger=N    how long a holder keeps the file, in seconds (default 120)
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char MarkerName[] = "lexomir_memfile";
constexpr char WindowClass[] = "TLXMainForm";
constexpr UINT_PTR ForegroundTimer = 1;

std::string g_logPath;
HWND MainWindow = nullptr;
bool g_wasForeground = false;
const char* State = "none";

std::string exeFolder() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t cut = s.find_last_of('\\');
    return cut == std::string::npos ? std::string() : s.substr(0, cut + 1);
}

// One open-append-close per line: the line is on disk before the next event
// happens, and two instances (or a holder) can share the log.
void logEvent(const char* event, const char* fmt = nullptr, ...) {
    char detail[600] = {};
    if (fmt) {
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(detail, sizeof detail, fmt, ap);
        va_end(ap);
    }
    char line[800];
    int len = std::snprintf(line, sizeof line, "%lu %lu %s%s%s\r\n", GetCurrentProcessId(), GetTickCount(), event,
                            detail[0] ? " " : "", detail);
    if (len < 0) return;
    if (len > int(sizeof line) - 1) len = int(sizeof line) - 1;
    for (int attempt = 0; attempt < 50; ++attempt) {
        HANDLE f = CreateFileA(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(f, line, DWORD(len), &written, nullptr);
            FlushFileBuffers(f);
            CloseHandle(f);
            return;
        }
        Sleep(20);
    }
}

void setState(const char* state) {
    if (std::strcmp(state, State) != 0) {
        State = state;
        logEvent("state", "%s", state);
    }
}

void checkForeground() {
    bool fg = MainWindow && GetForegroundWindow() == MainWindow;
    if (fg != g_wasForeground) {
        g_wasForeground = fg;
        logEvent(fg ? "foreground" : "background");
    }
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SHOWWINDOW:
            logEvent(wp ? "shown" : "hidden");
            break;
        case WM_SIZE:
            if (wp == SIZE_MINIMIZED)
                setState("minimized");
            else if (wp == SIZE_MAXIMIZED)
                setState("maximized");
            else if (wp == SIZE_RESTORED)
                setState("normal");
            break;
        case WM_ACTIVATE:
            logEvent(LOWORD(wp) == WA_INACTIVE ? "deactivated" : "activated", "%s%s",
                     LOWORD(wp) == WA_CLICKACTIVE ? "click" : "", HIWORD(wp) ? " minimized" : "");
            break;
        case WM_TIMER:
            if (wp == ForegroundTimer) {
                checkForeground();
                return 0;
            }
            break;
        case WM_CLOSE:
            logEvent("close");
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

struct Options {
    bool minimized = false;
    bool holder = false;
    DWORD lingerSeconds = 120;
};

void parseWords(const char* text, Options& o) {
    std::string s = text ? text : "";
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && unsigned(s[i]) <= 32) ++i;
        size_t j = i;
        while (j < s.size() && unsigned(s[j]) > 32) ++j;
        std::string w = s.substr(i, j - i);
        if (w == "--minimized")
            o.minimized = true;
        else if (w == "--holder")
            o.holder = true;
        else if (w.rfind("--linger=", 0) == 0)
            o.lingerSeconds = DWORD(std::strtoul(w.c_str() + 9, nullptr, 10));
        i = j;
    }
}

int runHolder(const Options& o) {
    std::string data = exeFolder() + "lxn.cok";
    HANDLE f = CreateFileA(data.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        logEvent("hold-failed", "%lu", GetLastError());
        return 3;
    }
    logEvent("holding", "%s", data.c_str());
    Sleep(o.lingerSeconds * 1000);
    CloseHandle(f);
    logEvent("released");
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int showCmd) {
    char env[1024] = {};
    DWORD envLen = GetEnvironmentVariableA("LEXOMIR_STANDIN_LOG", env, sizeof env);
    g_logPath = envLen > 0 && envLen < sizeof env ? std::string(env) : exeFolder() + "standin.log";

    Options o;
    char envOpts[512] = {};
    DWORD optLen = GetEnvironmentVariableA("LEXOMIR_STANDIN_OPTIONS", envOpts, sizeof envOpts);
    if (optLen > 0 && optLen < sizeof envOpts) parseWords(envOpts, o);
    parseWords(cmdLine, o);

    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    logEvent("started", "show=%d cwd=%s args=%s", showCmd, cwd, cmdLine ? cmdLine : "");

    if (o.holder) return runHolder(o);

    HANDLE marker = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 64, MarkerName);
    DWORD markerError = GetLastError();
    if (!marker)
        logEvent("marker-failed", "%lu", markerError);
    else
        logEvent(markerError == ERROR_ALREADY_EXISTS ? "marker-existed" : "marker-created");

    WNDCLASSA wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = HBRUSH(COLOR_WINDOW + 1);
    wc.lpszClassName = WindowClass;
    if (!RegisterClassA(&wc)) {
        logEvent("register-failed", "%lu", GetLastError());
        return 2;
    }
    MainWindow = CreateWindowExA(0, WindowClass, "Lexomir", WS_OVERLAPPEDWINDOW, 100, 100, 480, 320, nullptr, nullptr,
                                 instance, nullptr);
    if (!MainWindow) {
        logEvent("window-failed", "%lu", GetLastError());
        return 2;
    }
    logEvent("window");
    if (o.minimized) {
        ShowWindow(MainWindow, SW_SHOWMINNOACTIVE);
        // A first ShowWindow may be overridden by the start-up show state;
        // insist, so the window really starts out minimized.
        if (!IsIconic(MainWindow)) ShowWindow(MainWindow, SW_SHOWMINNOACTIVE);
    } else {
        ShowWindow(MainWindow, showCmd);
    }
    UpdateWindow(MainWindow);
    checkForeground();
    SetTimer(MainWindow, ForegroundTimer, 100, nullptr);
    logEvent("ready");

    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (got == 0)
        logEvent("quit", "%d", int(msg.wParam));
    else
        logEvent("getmessage-failed", "%lu", GetLastError());
    if (marker) CloseHandle(marker);
    logEvent("exit");
    return 0;
}
