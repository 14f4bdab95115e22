// Covers: platform/win32.h, host half. Tokens, the desktop shell and starting a program with another token:
// what it takes to start the application as the desktop user from an
// elevated installer. And the administrators' group in the process's
// token: the one SID the installer builds, and whether the token holds it
// enabled (userIsAdmin).
#include <algorithm>
#include <cstring>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

const HANDLE CurrentProcess = reinterpret_cast<HANDLE>(LONG_PTR(-1));
constexpr DWORD OwnProcessId = 0x1100;

bool IsVistaOrLater() { return pc().version.dwMajorVersion >= 6; }

HWND ShellWindow() {
    DesktopShell& shell = pc().shell;
    if (!shell.running) return nullptr;
    if (!shell.window) {
        shell.window = reinterpret_cast<HWND>(pc().nextWindow);
        pc().nextWindow += 0x10;
        pc().windows[shell.window] = WindowState{"Progman", SW_SHOWNORMAL, false, true};
    }
    return shell.window;
}

}  // namespace

}  // namespace Sim

using Sim::pc;

HANDLE WINAPI GetCurrentProcess() { return Sim::CurrentProcess; }
DWORD WINAPI GetCurrentProcessId() { return Sim::OwnProcessId; }

BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
    if (auto e = pc().Enter("ProcessIdToSessionId", std::to_string(processId))) return Sim::Fail(*e, FALSE);
    if (processId != Sim::OwnProcessId || !sessionId) Sim::Unmodelled("ProcessIdToSessionId of another process");
    *sessionId = pc().sessionId;
    return TRUE;
}

HWND WINAPI GetShellWindow() {
    pc().Enter("GetShellWindow", "");
    return Sim::ShellWindow();
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (auto e = pc().Enter("GetWindowThreadProcessId", "")) return Sim::Fail(*e, DWORD(0));
    DWORD id = 0;
    if (window && window == pc().shell.window && pc().shell.running)
        id = pc().shell.processId;
    else if (window && pc().windows.count(window) && pc().windows[window].alive)
        id = Sim::OwnProcessId;
    if (!id) return Sim::Fail(ERROR_INVALID_WINDOW_HANDLE, DWORD(0));
    if (processId) *processId = id;
    return id + 4;  // the thread
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
    if (auto e = pc().Enter("OpenProcess", std::to_string(processId))) return Sim::Fail(*e, HANDLE(nullptr));
    if (access & ~DWORD(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))
        Sim::Unmodelled("OpenProcess for more than querying");
    if (inheritHandle) Sim::Unmodelled("OpenProcess with an inheritable handle");
    if (access & PROCESS_QUERY_LIMITED_INFORMATION && !Sim::IsVistaOrLater())
        return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    if (!pc().shell.running || processId != pc().shell.processId)
        return Sim::Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));                    // no such process
    if (pc().shell.otherUser) return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));  // its DACL names its user
    return pc().NewHandle(
        {.kind = Sim::Machine::Handle::Process, .path = "desktop shell", .access = access, .processId = processId});
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (auto e = pc().Enter("OpenProcessToken", "")) return Sim::Fail(*e, FALSE);
    if (!token) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    bool elevated;
    if (process == Sim::CurrentProcess) {
        elevated = pc().elevated;
    } else {
        Sim::Machine::Handle* h = pc().FindHandle(process, Sim::Machine::Handle::Process);
        if (!h || h->processId != pc().shell.processId) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!(h->access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
            return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
        elevated = pc().shell.elevated;
    }
    *token = pc().NewHandle({.kind = Sim::Machine::Handle::Token,
                             .path = process == Sim::CurrentProcess ? "installer" : "desktop",
                             .access = access,
                             .elevated = elevated});
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                LPDWORD returned) {
    if (auto e = pc().Enter("GetTokenInformation", std::to_string(int(infoClass)))) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* t = pc().FindHandle(token, Sim::Machine::Handle::Token);
    if (!t) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (infoClass == TokenUser && t->path == "installer" && (t->access & TOKEN_QUERY) && returned) {
        *returned = DWORD(sizeof(TOKEN_USER) + pc().userSid.size());  // a TOKEN_USER, its SID after it
        if (size < *returned || !info) return Sim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        BYTE* sid = std::copy(pc().userSid.begin(), pc().userSid.end(), static_cast<BYTE*>(info) + sizeof(TOKEN_USER));
        *static_cast<TOKEN_USER*>(info) = {{sid - pc().userSid.size(), 0}};
        return TRUE;
    }
    if (infoClass != TokenElevation) Sim::Unmodelled("GetTokenInformation class " + std::to_string(int(infoClass)));
    // Windows XP knows no elevation.
    if (!Sim::IsVistaOrLater()) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!(t->access & TOKEN_QUERY)) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!returned) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    *returned = sizeof(TOKEN_ELEVATION);
    if (size < sizeof(TOKEN_ELEVATION) || !info) return Sim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = t->elevated ? 1 : 0;
    return TRUE;
}

BOOL WINAPI DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                             SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) {
    if (auto e = pc().Enter("DuplicateTokenEx", "")) return Sim::Fail(*e, FALSE);
    if (attributes) Sim::Unmodelled("DuplicateTokenEx with security attributes");
    Sim::Machine::Handle* t = pc().FindHandle(token, Sim::Machine::Handle::Token);
    if (!t) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(t->access & TOKEN_DUPLICATE)) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!newToken || level > SecurityDelegation) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    Sim::Machine::Handle copy = *t;
    copy.access = access ? access : t->access;
    copy.primary = type == TokenPrimary;
    *newToken = pc().NewHandle(std::move(copy));
    return TRUE;
}

// The program starts with the token given, in the folder given, with the
// token's own user environment (no environment block is passed here).
BOOL WINAPI CreateProcessWithTokenW(HANDLE token, DWORD logonFlags, LPCWSTR applicationName, LPWSTR commandLine,
                                    DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                    LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) {
    Sim::Machine& m = pc();
    const std::string app = Sim::Utf8(applicationName ? applicationName : L"");
    if (auto e = m.Enter("CreateProcessWithTokenW", app)) return Sim::Fail(*e, FALSE);
    if (logonFlags || creationFlags || environment) Sim::Unmodelled("CreateProcessWithTokenW flags or environment");
    if (!startupInfo || !processInformation || !applicationName)
        Sim::Unmodelled("CreateProcessWithTokenW without program, start record or process record");
    if (startupInfo->cb != sizeof(STARTUPINFOW) || (startupInfo->dwFlags & ~DWORD(STARTF_USESHOWWINDOW)) ||
        startupInfo->lpDesktop || startupInfo->lpTitle || startupInfo->hStdInput || startupInfo->hStdOutput ||
        startupInfo->hStdError)
        Sim::Unmodelled("CreateProcessWithTokenW start record beyond the show state");
    Sim::Machine::Handle* t = m.FindHandle(token, Sim::Machine::Handle::Token);
    if (!t) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    const DWORD needed = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY;
    if ((t->access & needed) != needed) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!t->primary) return Sim::Fail(ERROR_BAD_TOKEN_TYPE, FALSE);
    if (!m.impersonatePrivilege) return Sim::Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    if (!m.secondaryLogonRunning) return Sim::Fail(ERROR_SERVICE_DISABLED, FALSE);
    const std::string folder = currentDirectory ? Sim::Utf8(currentDirectory) : m.currentFolder;
    const std::string path = m.files.Resolve(m.files.Normalize(app, m.currentFolder));
    auto it = m.files.nodes.find(path);
    if (path.empty() || it == m.files.nodes.end() || it->second.directory)
        return Sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const int show = (startupInfo->dwFlags & STARTF_USESHOWWINDOW) ? startupInfo->wShowWindow : SW_SHOWNORMAL;
    Sim::ShellExecuteRecord launch{"",
                                   app,
                                   Sim::Utf8(commandLine ? commandLine : L""),
                                   folder,
                                   m.currentFolder,
                                   show,
                                   m.now,
                                   "CreateProcessWithTokenW",
                                   t->elevated};
    m.launches.push_back(launch);
    Sim::StartMainAppIfItIs(path);
    const DWORD id = std::exchange(m.nextProcessId, m.nextProcessId + 4);
    m.Started(path, id, processInformation);
    return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                     DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                     PSID* sid) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("AllocateAndInitializeSid", std::to_string(sub0) + " " + std::to_string(sub1)))
        return Sim::Fail(*e, FALSE);
    const BYTE nt[6] = {0, 0, 0, 0, 0, 5};
    if (!authority || !sid || std::memcmp(authority->Value, nt, 6) != 0 || count != 2 ||
        sub0 != SECURITY_BUILTIN_DOMAIN_RID || sub1 != DOMAIN_ALIAS_RID_ADMINS ||
        (sub2 | sub3 | sub4 | sub5 | sub6 | sub7) != 0)
        Sim::Unmodelled("AllocateAndInitializeSid for a SID other than BUILTIN\\Administrators");
    const std::uintptr_t value = std::exchange(m.nextHandle, m.nextHandle + 4);
    m.sids.insert(value);
    *sid = reinterpret_cast<PSID>(value);
    return TRUE;
}

BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("CheckTokenMembership", "")) return Sim::Fail(*e, FALSE);
    if (token) Sim::Unmodelled("CheckTokenMembership with a token handle");
    if (!m.sids.count(reinterpret_cast<std::uintptr_t>(sid))) Sim::Unmodelled("CheckTokenMembership with a freed SID");
    if (!isMember) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    *isMember = m.userIsAdmin ? TRUE : FALSE;
    return TRUE;
}

PVOID WINAPI FreeSid(PSID sid) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("FreeSid", "")) return Sim::Fail(*e, sid);
    if (!m.sids.erase(reinterpret_cast<std::uintptr_t>(sid))) Sim::Unmodelled("FreeSid of a SID not allocated");
    return nullptr;
}
