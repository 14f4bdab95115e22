// Tokens, the desktop shell and starting a program with another token:
// what it takes to start the application as the desktop user from an
// elevated installer. And the administrators' group in the process's
// token: the one SID the installer builds, and whether the token holds it
// enabled (userIsAdmin).
#include <cstring>

#include "tests/sim/machine.h"

namespace sim {

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

}  // namespace sim

using sim::pc;

HANDLE WINAPI GetCurrentProcess() { return sim::CurrentProcess; }

HWND WINAPI GetShellWindow() {
    pc().Enter("GetShellWindow", "");
    return sim::ShellWindow();
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (auto e = pc().Enter("GetWindowThreadProcessId", "")) return sim::Fail(*e, DWORD(0));
    DWORD id = 0;
    if (window && window == pc().shell.window && pc().shell.running)
        id = pc().shell.processId;
    else if (window && pc().windows.count(window) && pc().windows[window].alive)
        id = sim::OwnProcessId;
    if (!id) return sim::Fail(ERROR_INVALID_WINDOW_HANDLE, DWORD(0));
    if (processId) *processId = id;
    return id + 4;  // the thread
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
    if (auto e = pc().Enter("OpenProcess", std::to_string(processId))) return sim::Fail(*e, HANDLE(nullptr));
    if (access & ~DWORD(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION))
        sim::Unmodelled("OpenProcess for more than querying");
    if (inheritHandle) sim::Unmodelled("OpenProcess with an inheritable handle");
    if (access & PROCESS_QUERY_LIMITED_INFORMATION && !sim::IsVistaOrLater())
        return sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    if (!pc().shell.running || processId != pc().shell.processId)
        return sim::Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));                    // no such process
    if (pc().shell.otherUser) return sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));  // its DACL names its user
    sim::Machine::Handle h{sim::Machine::Handle::Process, "desktop shell", access, 0};
    h.processId = processId;
    return pc().NewHandle(std::move(h));
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    if (auto e = pc().Enter("OpenProcessToken", "")) return sim::Fail(*e, FALSE);
    if (!token) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    bool elevated;
    if (process == sim::CurrentProcess) {
        elevated = pc().elevated;
    } else {
        sim::Machine::Handle* h = pc().FindHandle(process, sim::Machine::Handle::Process);
        if (!h || h->processId != pc().shell.processId) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!(h->access & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
            return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
        elevated = pc().shell.elevated;
    }
    sim::Machine::Handle t{sim::Machine::Handle::Token, process == sim::CurrentProcess ? "installer" : "desktop",
                           access, 0};
    t.elevated = elevated;
    *token = pc().NewHandle(std::move(t));
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                LPDWORD returned) {
    if (auto e = pc().Enter("GetTokenInformation", std::to_string(int(infoClass)))) return sim::Fail(*e, FALSE);
    sim::Machine::Handle* t = pc().FindHandle(token, sim::Machine::Handle::Token);
    if (!t) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (infoClass != TokenElevation) sim::Unmodelled("GetTokenInformation class " + std::to_string(int(infoClass)));
    // Windows XP knows no elevation.
    if (!sim::IsVistaOrLater()) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!(t->access & TOKEN_QUERY)) return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!returned) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    *returned = sizeof(TOKEN_ELEVATION);
    if (size < sizeof(TOKEN_ELEVATION) || !info) return sim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = t->elevated ? 1 : 0;
    return TRUE;
}

BOOL WINAPI DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                             SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) {
    if (auto e = pc().Enter("DuplicateTokenEx", "")) return sim::Fail(*e, FALSE);
    if (attributes) sim::Unmodelled("DuplicateTokenEx with security attributes");
    sim::Machine::Handle* t = pc().FindHandle(token, sim::Machine::Handle::Token);
    if (!t) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(t->access & TOKEN_DUPLICATE)) return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!newToken || level > SecurityDelegation) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    sim::Machine::Handle copy = *t;
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
    sim::Machine& m = pc();
    const std::string app = sim::Utf8(applicationName ? applicationName : L"");
    if (auto e = m.Enter("CreateProcessWithTokenW", app)) return sim::Fail(*e, FALSE);
    if (logonFlags || creationFlags || environment) sim::Unmodelled("CreateProcessWithTokenW flags or environment");
    if (!startupInfo || !processInformation || !applicationName)
        sim::Unmodelled("CreateProcessWithTokenW without program, start record or process record");
    if (startupInfo->cb != sizeof(STARTUPINFOW) || (startupInfo->dwFlags & ~DWORD(STARTF_USESHOWWINDOW)) ||
        startupInfo->lpDesktop || startupInfo->lpTitle || startupInfo->hStdInput || startupInfo->hStdOutput ||
        startupInfo->hStdError)
        sim::Unmodelled("CreateProcessWithTokenW start record beyond the show state");
    sim::Machine::Handle* t = m.FindHandle(token, sim::Machine::Handle::Token);
    if (!t) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    const DWORD needed = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY;
    if ((t->access & needed) != needed) return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!t->primary) return sim::Fail(ERROR_BAD_TOKEN_TYPE, FALSE);
    if (!m.impersonatePrivilege) return sim::Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
    if (!m.secondaryLogonRunning) return sim::Fail(ERROR_SERVICE_DISABLED, FALSE);
    const std::string folder = currentDirectory ? sim::Utf8(currentDirectory) : m.currentFolder;
    const std::string path = m.files.Resolve(m.files.Normalize(app, m.currentFolder));
    auto it = m.files.nodes.find(path);
    if (path.empty() || it == m.files.nodes.end() || it->second.directory)
        return sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const int show = (startupInfo->dwFlags & STARTF_USESHOWWINDOW) ? startupInfo->wShowWindow : SW_SHOWNORMAL;
    sim::ShellExecuteRecord launch{"",
                                   app,
                                   sim::Utf8(commandLine ? commandLine : L""),
                                   folder,
                                   m.currentFolder,
                                   show,
                                   m.now,
                                   "CreateProcessWithTokenW",
                                   t->elevated};
    m.launches.push_back(launch);
    sim::StartMainAppIfItIs(path);
    const DWORD id = m.nextProcessId;
    m.nextProcessId += 4;
    sim::Machine::Handle process{sim::Machine::Handle::Process, path, 0, 0};
    process.processId = id;
    sim::Machine::Handle thread{sim::Machine::Handle::Thread, path, 0, 0};
    thread.processId = id;
    processInformation->hProcess = m.NewHandle(std::move(process));
    processInformation->hThread = m.NewHandle(std::move(thread));
    processInformation->dwProcessId = id;
    processInformation->dwThreadId = id + 4;
    return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                     DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                     PSID* sid) {
    sim::Machine& m = pc();
    if (auto e = m.Enter("AllocateAndInitializeSid", std::to_string(sub0) + " " + std::to_string(sub1)))
        return sim::Fail(*e, FALSE);
    const BYTE nt[6] = {0, 0, 0, 0, 0, 5};
    if (!authority || !sid || std::memcmp(authority->Value, nt, 6) != 0 || count != 2 ||
        sub0 != SECURITY_BUILTIN_DOMAIN_RID || sub1 != DOMAIN_ALIAS_RID_ADMINS ||
        (sub2 | sub3 | sub4 | sub5 | sub6 | sub7) != 0)
        sim::Unmodelled("AllocateAndInitializeSid for a SID other than BUILTIN\\Administrators");
    const std::uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    m.sids.insert(value);
    *sid = reinterpret_cast<PSID>(value);
    return TRUE;
}

BOOL WINAPI CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
    sim::Machine& m = pc();
    if (auto e = m.Enter("CheckTokenMembership", "")) return sim::Fail(*e, FALSE);
    if (token) sim::Unmodelled("CheckTokenMembership with a token handle");
    if (!m.sids.count(reinterpret_cast<std::uintptr_t>(sid))) sim::Unmodelled("CheckTokenMembership with a freed SID");
    if (!isMember) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    *isMember = m.userIsAdmin ? TRUE : FALSE;
    return TRUE;
}

PVOID WINAPI FreeSid(PSID sid) {
    sim::Machine& m = pc();
    if (auto e = m.Enter("FreeSid", "")) return sim::Fail(*e, sid);
    if (!m.sids.erase(reinterpret_cast<std::uintptr_t>(sid))) sim::Unmodelled("FreeSid of a SID not allocated");
    return nullptr;
}
