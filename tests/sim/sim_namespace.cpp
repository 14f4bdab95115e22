// Covers: platform/win32.h, host half.
// Private namespaces and mutexes ("Object Namespaces"): only a token with the boundary's SID enabled may create
// one (else ERROR_ACCESS_DENIED; ERROR_ALREADY_EXISTS where it exists); anyone may open it unless its DACL forbids.
#include <algorithm>
#include <cwchar>
#include <utility>

#include "tests/sim/machine.h"

using Sim::pc;
using SimHandle = Sim::Machine::Handle;

namespace Sim {
namespace {

bool AdminsOnly(LPSECURITY_ATTRIBUTES sa) {  // made with a DACL from SDDL
    return sa && pc().adminOnlyDescriptors.count(reinterpret_cast<std::uintptr_t>(sa->lpSecurityDescriptor));
}

HANDLE None(DWORD error) { return Fail(error, HANDLE(nullptr)); }

// The name of a boundary of the Administrators SID (`access` 1).
std::wstring Boundary(HANDLE boundary, LPCWSTR prefix) {
    const SimHandle* b = pc().FindHandle(boundary, SimHandle::Boundary);
    if (!b || !prefix || std::wcschr(prefix, L'\\') || b->access != 1)
        Unmodelled("a namespace without a boundary of Administrators");
    return FromUtf8(b->path);
}

// A handle to the object of that name, made where it is new.
HANDLE Open(SimHandle::Kind kind, const std::wstring& name, const Machine::NamedObject& made = {}) {
    if (!pc().objects.count(name)) pc().objects[name] = made, pc().openToStandardUsers += !made.administratorsOnly;
    ++pc().objects[name].handles;
    return pc().NewHandle({kind, Utf8(name)});
}

Machine::NamedObject& Named(std::uintptr_t handle) { return pc().objects.at(FromUtf8(pc().handles.at(handle).path)); }

}  // namespace

// A handle closes; a mutex it owns is abandoned (its run ends right after).
void CloseNamed(std::uintptr_t handle) {
    const std::wstring name = FromUtf8(pc().handles.at(handle).path);
    Machine::NamedObject& o = pc().objects.at(name);
    if (o.owner == handle) o.owner = o.count = 0, o.abandoned = true;
    if (--o.handles == 0) pc().objects.erase(name);
    pc().handles.erase(handle);
}

// Taken where free (WAIT_ABANDONED where its owner ended holding it) or already the waiter's.
DWORD WaitForMutex(HANDLE handle, DWORD milliseconds) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    Machine::NamedObject& o = Named(value);
    if (milliseconds) Unmodelled("WaitForSingleObject on a mutex for longer than a look");
    if (o.owner && o.owner != value) return WAIT_TIMEOUT;
    o.owner = value, ++o.count;
    return std::exchange(o.abandoned, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

}  // namespace Sim

HANDLE WINAPI CreateBoundaryDescriptorW(LPCWSTR name, ULONG flags) {
    if (auto e = pc().Enter("CreateBoundaryDescriptorW", "")) return Sim::Fail(*e, HANDLE(nullptr));
    if (!name || flags) Sim::Unmodelled("CreateBoundaryDescriptorW without a name, or with flags");
    return pc().NewHandle(SimHandle{SimHandle::Boundary, Sim::Utf8(name), 0, 0});
}

BOOL WINAPI AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
    if (auto e = pc().Enter("AddSIDToBoundaryDescriptor", "")) return Sim::Fail(*e, FALSE);
    SimHandle* b = boundary ? pc().FindHandle(*boundary, SimHandle::Boundary) : nullptr;
    if (!b || b->access || !pc().sids.count(reinterpret_cast<std::uintptr_t>(sid)))
        Sim::Unmodelled("a boundary of another SID than Administrators, or of two");
    return b->access = 1;
}

void WINAPI DeleteBoundaryDescriptor(HANDLE boundary) {
    pc().Enter("DeleteBoundaryDescriptor", "");
    if (!pc().handles.erase(reinterpret_cast<std::uintptr_t>(boundary))) Sim::Unmodelled("no boundary to delete");
}

// One prefix names one namespace here, of the one boundary.
HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR aliasPrefix) {
    if (auto e = pc().Enter("CreatePrivateNamespaceW", "")) return Sim::None(*e);
    const std::wstring bound = Sim::Boundary(boundary, aliasPrefix);
    // Outside the boundary: no Administrators group, or one for denying only.
    if (!pc().userIsAdmin) return Sim::None(ERROR_ACCESS_DENIED);
    auto it = pc().objects.find(aliasPrefix);
    if (it != pc().objects.end() && it->second.boundary != bound) Sim::Unmodelled("a prefix of two boundaries");
    if (it != pc().objects.end()) return Sim::None(ERROR_ALREADY_EXISTS);
    return Sim::Open(SimHandle::Namespace, aliasPrefix, {bound, Sim::AdminsOnly(security)});
}

HANDLE WINAPI OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR aliasPrefix) {
    if (auto e = pc().Enter("OpenPrivateNamespaceW", "")) return Sim::None(*e);
    const std::wstring bound = Sim::Boundary(boundary, aliasPrefix);
    auto it = pc().objects.find(aliasPrefix);
    if (it == pc().objects.end() || it->second.boundary != bound) return Sim::None(ERROR_FILE_NOT_FOUND);
    if (it->second.administratorsOnly && !pc().userIsAdmin) return Sim::None(ERROR_ACCESS_DENIED);
    return Sim::Open(SimHandle::Namespace, aliasPrefix);
}

BOOLEAN WINAPI ClosePrivateNamespace(HANDLE handle, ULONG flags) {
    const std::optional<DWORD> fault = pc().Enter("ClosePrivateNamespace", "");  // closes all the same
    if (flags) Sim::Unmodelled("ClosePrivateNamespace with PRIVATE_NAMESPACE_FLAG_DESTROY");
    if (!pc().FindHandle(handle, SimHandle::Namespace)) return Sim::Fail(ERROR_INVALID_HANDLE, BOOLEAN(FALSE));
    Sim::CloseNamed(reinterpret_cast<std::uintptr_t>(handle));
    return fault ? Sim::Fail(*fault, BOOLEAN(FALSE)) : TRUE;
}

// Named "PREFIX\NAME", in a namespace this process holds open.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
    Sim::Machine& m = pc();
    if (auto e = m.Enter("CreateMutexW", "")) return Sim::None(*e);
    const std::wstring full = name ? name : L"", prefix = full.substr(0, full.find(L'\\'));
    const std::wstring leaf = full.substr(std::min(full.size(), prefix.size() + 1));
    if (initialOwner || prefix == full || leaf.find(L'\\') != std::wstring::npos)
        Sim::Unmodelled("CreateMutexW owned at once, or outside a private namespace");
    if (!m.objects.count(prefix)) return Sim::None(ERROR_PATH_NOT_FOUND);
    const bool found = m.objects.count(full);
    if (m.objects[found ? full : prefix].administratorsOnly && !m.userIsAdmin) return Sim::None(ERROR_ACCESS_DENIED);
    HANDLE mutex = Sim::Open(SimHandle::Mutex, full, {L"", Sim::AdminsOnly(security)});
    return Sim::Fail(found ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS, mutex);
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
    if (auto e = pc().Enter("ReleaseMutex", "")) return Sim::Fail(*e, FALSE);
    SimHandle* h = pc().FindHandle(handle, SimHandle::Mutex);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    Sim::Machine::NamedObject& o = Sim::Named(reinterpret_cast<std::uintptr_t>(handle));
    if (o.owner != reinterpret_cast<std::uintptr_t>(handle)) return Sim::Fail(ERROR_NOT_OWNER, FALSE);
    if (--o.count == 0) o.owner = 0;
    return TRUE;
}

// Only the one descriptor: full access for Administrators alone.
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                                 PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
    if (auto e = pc().Enter("ConvertStringSecurityDescriptorToSecurityDescriptorW", "")) return Sim::Fail(*e, FALSE);
    if (revision != SDDL_REVISION_1 || !descriptor || size || std::wstring(text) != L"D:P(A;;GA;;;BA)")
        Sim::Unmodelled("another security descriptor");
    *descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(*pc().adminOnlyDescriptors.insert(pc().nextHandle).first);
    pc().nextHandle += 4;
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
    if (auto e = pc().Enter("LocalFree", "")) return Sim::Fail(*e, memory);
    if (!pc().adminOnlyDescriptors.erase(reinterpret_cast<std::uintptr_t>(memory))) Sim::Unmodelled("LocalFree");
    return nullptr;
}
