// Covers: platform/win32.h, host half. Message boxes, windows, the shell, named objects and the simulated main
// application that the installer deals with as a running program.
#include <cstring>

#include "tests/sim/machine.h"
#include "tests/sim/sim_threads.h"

namespace Sim {

namespace {

bool SamePath(const std::string& a, const std::string& b) { return !NameLess{}(a, b) && !NameLess{}(b, a); }

void AppCreatesMarker() {
    MainApp& app = pc().app;
    ++pc().namedObjects[app.markerName];
    app.running = true;
    app.history.push_back("started");
    for (const std::string& path : app.holdsFiles)
        app.heldTokens.push_back(pc().files.HoldOpen(path, GENERIC_READ | GENERIC_WRITE, 0));
}

void AppCreatesWindow() {
    MainApp& app = pc().app;
    if (!app.running) return;
    HWND window = reinterpret_cast<HWND>(pc().nextWindow);
    pc().nextWindow += 0x10;
    pc().windows[window] =
        WindowState{app.windowClass, app.startMinimized ? SW_SHOWMINIMIZED : SW_SHOWNORMAL, false, true};
    app.window = window;
    app.history.push_back(app.startMinimized ? "window minimized" : "window shown");
}

void AppEnds() {
    MainApp& app = pc().app;
    if (!app.running) return;
    auto obj = pc().namedObjects.find(app.markerName);
    if (obj != pc().namedObjects.end() && --obj->second == 0) pc().namedObjects.erase(obj);
    if (app.window) pc().windows.erase(app.window);
    app.window = nullptr;
    for (int token : app.heldTokens) pc().files.Release(token);
    app.heldTokens.clear();
    app.running = false;
    app.history.push_back("ended");
}

int ShowBox(const char* function, HWND owner, const std::wstring& text, const std::wstring& caption, UINT style,
            std::optional<WORD> language) {
    Machine& m = pc();
    BoxRecord box{function, owner, Narrow(text, 1251), Narrow(caption, 1251), text, caption, style, language, 0};
    if (!m.boxAnswers.empty()) {
        box.result = m.boxAnswers.front();
        m.boxAnswers.pop_front();
    } else if ((style & MB_TYPEMASK) == MB_OK) {
        box.result = IDOK;
    } else {
        Unmodelled("a question box nobody answers: " + box.text);
        box.result = 0;
    }
    m.boxes.push_back(box);
    return box.result;
}

}  // namespace

void StartMainAppIfItIs(const std::string& path) {
    Machine& m = pc();
    MainApp& app = m.app;
    if (!SamePath(path, m.files.Normalize(app.exePath, "C:")) || !app.startsWhenLaunched) return;
    if (app.running) {
        app.history.push_back("second instance");
    } else {
        const DWORD marker = m.now + app.markerDelayMs;
        m.At(marker, AppCreatesMarker);
        m.At(marker + app.windowDelayMs, AppCreatesWindow);
    }
}

void Machine::StartMainApp() {
    AppCreatesMarker();
    AppCreatesWindow();
}

}  // namespace Sim

using Sim::pc;

// The ANSI boxes read their texts in the machine's ANSI code page.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    if (auto e = pc().Enter("MessageBoxA", text ? text : "")) return Sim::Fail(*e, 0);
    return Sim::ShowBox("MessageBoxA", owner, Sim::Widen(text ? text : "", CP_ACP),
                        Sim::Widen(caption ? caption : "", CP_ACP), style, std::nullopt);
}

int WINAPI MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT style, WORD language) {
    if (auto e = pc().Enter("MessageBoxExA", text ? text : "")) return Sim::Fail(*e, 0);
    return Sim::ShowBox("MessageBoxExA", owner, Sim::Widen(text ? text : "", CP_ACP),
                        Sim::Widen(caption ? caption : "", CP_ACP), style, language);
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    const std::wstring t = text ? text : L"", c = caption ? caption : L"";
    if (auto e = pc().Enter("MessageBoxW", Sim::Narrow(t, 1251))) return Sim::Fail(*e, 0);
    return Sim::ShowBox("MessageBoxW", owner, t, c, style, std::nullopt);
}

int WINAPI MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD language) {
    const std::wstring t = text ? text : L"", c = caption ? caption : L"";
    if (auto e = pc().Enter("MessageBoxExW", Sim::Narrow(t, 1251))) return Sim::Fail(*e, 0);
    return Sim::ShowBox("MessageBoxExW", owner, t, c, style, language);
}

// The process's window station: a pseudo handle, never to be closed.
HWINSTA WINAPI GetProcessWindowStation() {
    if (auto e = pc().Enter("GetProcessWindowStation", "")) return Sim::Fail(*e, HWINSTA(nullptr));
    return reinterpret_cast<HWINSTA>(std::uintptr_t(0x3C));
}

BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed) {
    if (auto e = pc().Enter("GetUserObjectInformationW", std::to_string(index))) return Sim::Fail(*e, FALSE);
    if (object != reinterpret_cast<HANDLE>(std::uintptr_t(0x3C))) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (index != UOI_FLAGS) Sim::Unmodelled("GetUserObjectInformationW other than UOI_FLAGS");
    if (needed) *needed = sizeof(USEROBJECTFLAGS);
    if (!info || size < sizeof(USEROBJECTFLAGS)) return Sim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    USEROBJECTFLAGS flags{};
    flags.dwFlags = pc().windowStationVisible ? WSF_VISIBLE : 0;
    std::memcpy(info, &flags, sizeof flags);
    return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
    if (auto e = pc().Enter("FindWindowA", className ? className : "")) return Sim::Fail(*e, nullptr);
    if (windowName || !className || Sim::IsIntResource(className))
        Sim::Unmodelled("FindWindowA other than by class name");
    for (const auto& [window, state] : pc().windows)
        if (state.alive && !state.parent && Sim::SamePath(state.className, className)) return window;  // top level only
    return Sim::Fail(0, HWND(nullptr));
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (auto e = pc().Enter("PostMessageA", std::to_string(message))) return Sim::Fail(*e, FALSE);
    if (pc().windows.count(window) == 0) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (message != WM_QUIT || wParam != 0 || lParam != 0) Sim::Unmodelled("a posted message other than WM_QUIT");
    Sim::MainApp& app = pc().app;
    if (window == app.window) {
        app.history.push_back("quit requested");
        if (app.quitsOnWmQuit && !app.hung) pc().At(pc().now + app.quitDelayMs, Sim::AppEnds);
    }
    return TRUE;
}

// A synchronous show waits for the window's thread; an asynchronous one
// posts the event, which a hung thread takes only when it recovers.
static BOOL Show(const char* function, bool async, HWND window, int command) {
    if (auto e = pc().Enter(function, std::to_string(command))) return Sim::Fail(*e, FALSE);
    auto it = pc().windows.find(window);
    if (it == pc().windows.end()) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (command != SW_SHOWNORMAL) Sim::Unmodelled("a show command other than SW_SHOWNORMAL");
    const bool wasVisible = it->second.showState != SW_HIDE;
    Sim::MainApp& app = pc().app;
    if (window == app.window && app.hung && (async || !Sim::WaitUntil([] { return !pc().app.hung; }))) {
        if (!async) Sim::Unmodelled("ShowWindow waits for ever for a hung window");
        return async;
    }
    if (window == app.window)
        app.history.push_back(it->second.showState == SW_SHOWMINIMIZED ? "restored" : "shown normal");
    it->second.showState = command;
    return async || wasVisible ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command) { return Show("ShowWindow", false, window, command); }
BOOL WINAPI ShowWindowAsync(HWND window, int command) { return Show("ShowWindowAsync", true, window, command); }

BOOL WINAPI SetForegroundWindow(HWND window) {
    if (auto e = pc().Enter("SetForegroundWindow", "")) return Sim::Fail(*e, FALSE);
    if (!pc().windows.count(window)) return FALSE;
    for (auto& [w, state] : pc().windows) state.foreground = w == window;
    if (window == pc().app.window) pc().app.history.push_back("brought to front");
    return TRUE;
}

HINSTANCE WINAPI ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("ShellExecuteA", file ? file : ""))
        return Sim::Fail(*e, reinterpret_cast<HINSTANCE>(std::uintptr_t(*e == ERROR_FILE_NOT_FOUND ? 2 : 5)));
    if (owner) Sim::Unmodelled("ShellExecuteA with an owner window");
    m.launches.push_back({verb ? verb : "", file ? file : "", parameters ? parameters : "", directory ? directory : "",
                          m.currentFolder, show, m.now});
    const std::string folder = directory && *directory ? m.FullPath(directory) : m.currentFolder;
    const std::string path = m.files.Resolve(m.files.Normalize(Sim::FromAnsi(file ? file : ""), folder));
    auto it = m.files.nodes.find(path);
    if (path.empty() || it == m.files.nodes.end() || it->second.directory)
        return Sim::Fail(ERROR_FILE_NOT_FOUND, reinterpret_cast<HINSTANCE>(std::uintptr_t(2)));  // SE_ERR_FNF
    m.launches.back().elevated = m.elevated;
    Sim::StartMainAppIfItIs(path);
    return reinterpret_cast<HINSTANCE>(std::uintptr_t(33));
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("SetCurrentDirectoryA", path ? path : "")) return Sim::Fail(*e, FALSE);
    if (path && std::string(path).size() > MAX_PATH) return Sim::Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
    const std::string full = m.files.Resolve(m.FullPath(path ? path : ""));
    auto it = m.files.nodes.find(full);
    const bool root = full.size() == 2 && full[1] == ':';
    if (full.empty() || (!root && it == m.files.nodes.end())) return Sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!root && !it->second.directory) return Sim::Fail(267, FALSE);  // ERROR_DIRECTORY
    m.currentFolder = full;
    return TRUE;
}

// The application runs as the user at the desktop, and its marker has that
// user's default DACL (the user, SYSTEM, their logon session): where an
// administrator elevated the installer for another user, it may not open it.
HANDLE WINAPI OpenFileMappingA(DWORD access, BOOL inheritHandle, LPCSTR name) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("OpenFileMappingA", name ? name : "")) return Sim::Fail(*e, HANDLE(nullptr));
    if (access != FILE_MAP_READ || inheritHandle || !name) Sim::Unmodelled("OpenFileMappingA other than to read");
    if (!m.namedObjects.count(name)) return Sim::Fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    if (m.shell.otherUser && m.app.running && Sim::SamePath(name, m.app.markerName))
        return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    ++m.namedObjects[name];
    return m.NewHandle(Sim::Machine::Handle{Sim::Machine::Handle::Mapping, name, access, 0});
}
