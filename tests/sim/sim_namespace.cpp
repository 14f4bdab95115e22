// Private namespaces and mutexes ("Object Namespaces"): only a token with the boundary's SID enabled may create
// one (else ERROR_ACCESS_DENIED; ERROR_ALREADY_EXISTS where it exists); anyone may open it unless its DACL forbids.
#include <algorithm>
#include <utility>

#include "tests/sim/machine.h"

using Sim::pc;
using SimHandle = Sim::Machine::Handle;

namespace Sim {
namespace {

bool AdminsOnly(LPSECURITY_ATTRIBUTES sa) {  // made with a DACL from SDDL
    return sa && pc().adminOnlyDescriptors.count(reinterpret_cast<std::uintptr_t>(sa->lpSecurityDescriptor));
}

// The namespace of a boundary (with the Administrators SID: `access` 1) and a prefix.
int FindNamespace(HANDLE boundary, LPCWSTR prefix) {
    const SimHandle* b = pc().FindHandle(boundary, SimHandle::Boundary);
    if (!b || !prefix || b->access != 1) Unmodelled("a namespace without a boundary of Administrators");
    for (const auto& [id, o] : pc().objects)
        if (!o.space && o.name == prefix && o.boundary == FromUtf8(b->path)) return id;
    return 0;
}

HANDLE Open(SimHandle::Kind kind, int id) {
    ++pc().objects[id].handles;
    SimHandle h{kind, "", 0, 0};
    h.object = id;
    return pc().NewHandle(std::move(h));
}

int Make(Machine::NamedObject object) {
    pc().openToStandardUsers += !object.administratorsOnly;
    pc().objects[pc().nextObject] = std::move(object);
    return pc().nextObject++;
}

}  // namespace

// A handle closes; a mutex it owns is abandoned (its run ends right after).
void CloseNamed(std::uintptr_t handle) {
    auto it = pc().objects.find(pc().handles.at(handle).object);
    if (it->second.owner == handle) it->second.owner = it->second.count = 0, it->second.abandoned = true;
    if (--it->second.handles == 0) pc().objects.erase(it);
    pc().handles.erase(handle);
}

FARPROC NamespaceCall(const std::string& name) {
    for (auto [n, f] : {std::pair{"CreateBoundaryDescriptorW", FARPROC(&CreateBoundaryDescriptorW)},
                        {"AddSIDToBoundaryDescriptor", FARPROC(&AddSIDToBoundaryDescriptor)},
                        {"DeleteBoundaryDescriptor", FARPROC(&DeleteBoundaryDescriptor)},
                        {"CreatePrivateNamespaceW", FARPROC(&CreatePrivateNamespaceW)},
                        {"OpenPrivateNamespaceW", FARPROC(&OpenPrivateNamespaceW)},
                        {"ClosePrivateNamespace", FARPROC(&ClosePrivateNamespace)}})
        if (name == n) return f;
    return nullptr;
}

bool Machine::MutexOwned() const {
    return std::any_of(objects.begin(), objects.end(), [](const auto& o) { return o.second.owner != 0; });
}

// Taken where free (WAIT_ABANDONED where its owner ended holding it) or already the waiter's.
DWORD WaitForMutex(HANDLE handle, DWORD milliseconds) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    Machine::NamedObject& o = pc().objects.at(pc().handles.at(value).object);
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

HANDLE WINAPI CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR aliasPrefix) {
    if (auto e = pc().Enter("CreatePrivateNamespaceW", "")) return Sim::Fail(*e, HANDLE(nullptr));
    // Outside the boundary: no Administrators group, or one for denying only.
    if (!pc().userIsAdmin) return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    if (Sim::FindNamespace(boundary, aliasPrefix)) return Sim::Fail(ERROR_ALREADY_EXISTS, HANDLE(nullptr));
    const std::wstring bound = Sim::FromUtf8(pc().FindHandle(boundary, SimHandle::Boundary)->path);
    return Sim::Open(SimHandle::Namespace, Sim::Make({0, aliasPrefix, bound, Sim::AdminsOnly(security)}));
}

HANDLE WINAPI OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR aliasPrefix) {
    if (auto e = pc().Enter("OpenPrivateNamespaceW", "")) return Sim::Fail(*e, HANDLE(nullptr));
    const int id = Sim::FindNamespace(boundary, aliasPrefix);
    if (!id) return Sim::Fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    if (pc().objects[id].administratorsOnly && !pc().userIsAdmin)
        return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    return Sim::Open(SimHandle::Namespace, id);
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
    if (auto e = m.Enter("CreateMutexW", "")) return Sim::Fail(*e, HANDLE(nullptr));
    const std::wstring full = name ? name : L"", prefix = full.substr(0, full.find(L'\\'));
    const std::wstring leaf = full.substr(std::min(full.size(), prefix.size() + 1));
    if (initialOwner || prefix == full || leaf.find(L'\\') != std::wstring::npos)
        Sim::Unmodelled("CreateMutexW owned at once, or outside a private namespace");
    int space = 0, found = 0;
    for (const auto& [id, o] : m.objects) space = !o.space && o.name == prefix ? id : space;
    if (!space) return Sim::Fail(ERROR_PATH_NOT_FOUND, HANDLE(nullptr));
    for (const auto& [id, o] : m.objects) found = o.space == space && o.name == leaf ? id : found;
    if (m.objects[found ? found : space].administratorsOnly && !m.userIsAdmin)
        return Sim::Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    HANDLE mutex =
        Sim::Open(SimHandle::Mutex, found ? found : Sim::Make({space, leaf, L"", Sim::AdminsOnly(security)}));
    SetLastError(found ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return mutex;
}

BOOL WINAPI ReleaseMutex(HANDLE handle) {
    if (auto e = pc().Enter("ReleaseMutex", "")) return Sim::Fail(*e, FALSE);
    SimHandle* h = pc().FindHandle(handle, SimHandle::Mutex);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    Sim::Machine::NamedObject& o = pc().objects.at(h->object);
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
