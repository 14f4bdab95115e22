#include "driver/desktop_user.h"

#include <optional>

#include "platform/code_pages.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"

namespace {

// Whether a token is elevated; nothing when the system cannot tell
// (Windows XP has no elevation) or the question fails.
bool IsElevated(HANDLE token, bool& elevated) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return false;
    elevated = elevation.TokenIsElevated != 0;
    return true;
}

}  // namespace

bool StartAsDesktopUser(const std::string& program, const std::string& folder) {
    bool elevated = false;
    {
        TOwnedHandle own;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Receive()) || !IsElevated(own.Get(), elevated) ||
            !elevated)
            return false;
    }

    // The shell's desktop window belongs to the process the user logged on
    // with: its token is theirs.
    HWND shell = GetShellWindow();
    if (!shell) return false;
    DWORD shellProcessId = 0;
    if (!GetWindowThreadProcessId(shell, &shellProcessId) || !shellProcessId) return false;
    TOwnedHandle shellProcess(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    if (!shellProcess) return false;
    TOwnedHandle shellToken;
    if (!OpenProcessToken(shellProcess.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, shellToken.Receive())) return false;
    // A shell that runs elevated itself (UAC off) gives nothing better
    // than this process's own token.
    if (!IsElevated(shellToken.Get(), elevated) || elevated) return false;

    TOwnedHandle primary;
    if (!DuplicateTokenEx(
            shellToken.Get(),
            TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
            nullptr, SecurityImpersonation, TokenPrimary, primary.Receive()))
        return false;

    // The names are in the system's ANSI code page.
    const std::optional<std::wstring> wideProgram = ToUnicode(program, CP_ACP);
    if (!wideProgram) return false;
    const std::optional<std::wstring> wideFolder = ToUnicode(folder, CP_ACP);
    if (!wideFolder) return false;
    std::wstring commandLine = L"\"" + *wideProgram + L"\"";  // the program's name as its first argument, nothing else
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithTokenW(primary.Get(), 0, wideProgram->c_str(), commandLine.data(), 0, nullptr,
                                 wideFolder->empty() ? nullptr : wideFolder->c_str(), &startup, &started))
        return false;
    // The application runs on its own; nothing here waits on it.
    const TOwnedHandle process(started.hProcess), thread(started.hThread);
    return true;
}
