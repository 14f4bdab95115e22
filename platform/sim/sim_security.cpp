// The administrators' group in the process's token: the one SID the
// installer builds, and whether the token holds it enabled (userIsAdmin).
#include <cstring>

#include "platform/sim/machine.h"

using sim::pc;

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
