#include "platform/admin_rights.h"

#include "platform/owned_handle.h"

bool UserIsAdministrator() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    TOwnedSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, administrators.Receive())) {
        administrators.Release();  // left as it was: nothing was allocated
        return false;
    }
    // No token: the thread's own, or a copy of the process's when it does
    // not impersonate. A group present only for deny does not count.
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, administrators.Get(), &member) != FALSE && member;
}
