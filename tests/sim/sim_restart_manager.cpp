// Covers: platform/win32.h, host half.
// The Restart Manager (rstrtmgr.dll, Vista and later): error codes returned, not set; at most 64 sessions; a list
// longer than the caller's array gives ERROR_MORE_DATA and the length needed (longer again, perhaps, at the next
// call). A file's holders are the machine's external opens of it, one entry a process.
#include <algorithm>
#include <cwchar>

#include "tests/sim/machine.h"

using Sim::pc;

DWORD WINAPI RmStartSession(DWORD* session, DWORD flags, WCHAR key[]) {
    if (auto e = pc().Enter("RmStartSession", "")) return *e;
    if (flags || !session || !key) return ERROR_BAD_ARGUMENTS;
    if (pc().rmSessions.size() >= 64) return ERROR_MAX_SESSIONS_REACHED;
    pc().rmSessions[*session = pc().nextRmSession++];
    std::swprintf(key, CCH_RM_SESSION_KEY + 1, L"%032X", unsigned(*session));
    return ERROR_SUCCESS;
}

DWORD WINAPI RmEndSession(DWORD session) {
    const auto e = pc().Enter("RmEndSession", "");
    return !pc().rmSessions.erase(session) ? ERROR_INVALID_HANDLE : e.value_or(ERROR_SUCCESS);
}

DWORD WINAPI RmRegisterResources(DWORD session, UINT nFiles, LPCWSTR files[], UINT nApps, RM_UNIQUE_PROCESS[],
                                 UINT nServices, LPCWSTR[]) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("RmRegisterResources", "")) return *e;
    if (nApps || nServices) Sim::Unmodelled("RmRegisterResources of processes or services");
    if (!m.rmSessions.count(session)) return ERROR_INVALID_HANDLE;
    for (UINT i = 0; i < nFiles; ++i)
        m.rmSessions[session].push_back(
            Sim::UpperAscii(m.files.Resolve(m.files.Normalize(Sim::Utf8(files[i]), m.currentFolder))));
    return ERROR_SUCCESS;
}

DWORD WINAPI RmGetList(DWORD session, UINT* needed, UINT* count, RM_PROCESS_INFO apps[], LPDWORD reasons) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("RmGetList", "")) return *e;
    if (!m.rmSessions.count(session)) return ERROR_INVALID_HANDLE;
    if (!needed || !count || !reasons || (*count && !apps)) return ERROR_BAD_ARGUMENTS;
    std::vector<RM_PROCESS_INFO> found;
    for (const auto& [token, open] : m.files.external) {
        const DWORD id = open.processId ? open.processId : DWORD(0x2000 + 4 * token);
        const auto& files = m.rmSessions[session];
        if (std::find(files.begin(), files.end(), Sim::UpperAscii(open.path)) == files.end() ||
            std::any_of(found.begin(), found.end(), [&](auto& p) { return p.Process.dwProcessId == id; }))
            continue;
        RM_PROCESS_INFO& info = found.emplace_back(RM_PROCESS_INFO{
            {id, {DWORD(token), 0x01DC0000}}, {}, {}, RmUnknownApp, 1 /*RmStatusRunning*/, open.session, FALSE});
        std::wcsncpy(info.strAppName, Sim::FromUtf8(open.program).c_str(), CCH_RM_MAX_APP_NAME);
    }
    *needed = UINT(found.size());
    *reasons = RmRebootReasonNone;
    if (found.size() > *count) return ERROR_MORE_DATA;
    std::copy(found.begin(), found.end(), apps);
    *count = UINT(found.size());
    return ERROR_SUCCESS;
}
