#include "platform/admin_rights.h"

#include "platform/win32.h"

bool UserIsAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    // No token: the thread's own, or a copy of the process's when it does
    // not impersonate. A group present only for deny does not count.
    BOOL member = FALSE;
    const bool asked = CheckTokenMembership(nullptr, administrators, &member) != FALSE;
    FreeSid(administrators);
    return asked && member;
}
