// Covers: platform/win32.h, host half. The process's own module (file name, resources), system libraries loaded
// at run time, and CNG hashing backed by OpenSSL.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

const HMODULE Kernel32 = reinterpret_cast<HMODULE>(std::uintptr_t(0x7B000000));
const HMODULE Bcrypt = reinterpret_cast<HMODULE>(std::uintptr_t(0x7C000000));
const HMODULE Version = reinterpret_cast<HMODULE>(std::uintptr_t(0x7D000000));
const HMODULE Advapi32 = reinterpret_cast<HMODULE>(std::uintptr_t(0x7E000000));
const HMODULE User32 = reinterpret_cast<HMODULE>(std::uintptr_t(0x7A000000));
const HMODULE Rstrtmgr = reinterpret_cast<HMODULE>(std::uintptr_t(0x79000000));

// A delay-loaded library is in the process once a call has brought it in.
bool Loaded(const std::string& library) {
    for (const Machine::DelayLoad& load : pc().delayLoads)
        if (load.library == library) return true;
    return false;
}
constexpr std::uintptr_t ResourceBase = 0x5000;
const std::uint8_t Empty[1] = {0};

std::string ResourceId(LPCSTR id) {
    if (IsIntResource(id)) return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(id));
    return UpperAscii(id);
}

const Machine::Resource* ResourceOf(const void* handle) {
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    if (value < ResourceBase || value >= ResourceBase + pc().resources.size()) return nullptr;
    return &pc().resources[value - ResourceBase];
}

bool IsOwnModule(HMODULE module) { return module == nullptr || module == OwnModuleHandle(); }

struct Hash {
    EVP_MD_CTX* context;
};
int algorithmToken;

NTSTATUS Injected(const char* function) {
    return pc().Enter(function, "") ? NTSTATUS(0xC0000001) /*STATUS_UNSUCCESSFUL*/ : STATUS_SUCCESS;
}

// Both forms: the name, truncated and NUL-ended when the buffer is short.
template <typename Char>
DWORD CopyModuleName(const std::basic_string<Char>& name, Char* buffer, DWORD size) {
    if (size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER, DWORD(0));
    if (name.size() >= size) {
        std::copy(name.begin(), name.begin() + (size - 1), buffer);
        buffer[size - 1] = 0;
        return Fail(ERROR_INSUFFICIENT_BUFFER, size);
    }
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    return Fail(0, DWORD(name.size()));
}

}  // namespace

}  // namespace Sim

using Sim::pc;

// The ANSI form gives "?" for what the code page cannot write.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    if (auto e = pc().Enter("GetModuleFileNameA", "")) return Sim::Fail(*e, 0);
    if (!Sim::IsOwnModule(module)) Sim::Unmodelled("GetModuleFileNameA of another module");
    return Sim::CopyModuleName(Sim::ToAnsi(pc().moduleFileName), buffer, size);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    if (auto e = pc().Enter("GetModuleFileNameW", "")) return Sim::Fail(*e, 0);
    if (!Sim::IsOwnModule(module)) Sim::Unmodelled("GetModuleFileNameW of another module");
    return Sim::CopyModuleName(Sim::FromUtf8(pc().moduleFileName), buffer, size);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (auto e = pc().Enter("GetModuleHandleA", name ? name : "")) return Sim::Fail(*e, nullptr);
    if (!name) return Sim::OwnModuleHandle();
    if (Sim::UpperAscii(name) == "KERNEL32.DLL" || Sim::UpperAscii(name) == "KERNEL32") return Sim::Kernel32;
    // Imported by the installer, so always loaded; it looks nothing up there.
    if (Sim::UpperAscii(name) == "ADVAPI32.DLL" || Sim::UpperAscii(name) == "ADVAPI32") return Sim::Advapi32;
    if (Sim::UpperAscii(name) == "USER32.DLL" && Sim::Loaded("user32.dll")) return Sim::User32;
    return Sim::Fail(ERROR_MOD_NOT_FOUND, nullptr);
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
    const std::string wantName = Sim::ResourceId(name);
    const std::string wantType = Sim::ResourceId(type);
    if (auto e = pc().Enter("FindResourceA", wantType + "/" + wantName)) return Sim::Fail(*e, nullptr);
    if (!Sim::IsOwnModule(module)) Sim::Unmodelled("FindResourceA in another module");
    bool typeSeen = false;
    const auto& all = pc().resources;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].type != wantType) continue;
        typeSeen = true;
        if (all[i].name == wantName) return reinterpret_cast<HRSRC>(Sim::ResourceBase + i);
    }
    return Sim::Fail(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND, nullptr);
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
    if (auto e = pc().Enter("LoadResource", "")) return Sim::Fail(*e, nullptr);
    if (!Sim::IsOwnModule(module) || !Sim::ResourceOf(resource))
        return Sim::Fail(ERROR_RESOURCE_DATA_NOT_FOUND, nullptr);
    return reinterpret_cast<HGLOBAL>(resource);
}

LPVOID WINAPI LockResource(HGLOBAL data) {
    pc().Enter("LockResource", "");
    const Sim::Machine::Resource* r = Sim::ResourceOf(data);
    if (!r) return nullptr;
    return const_cast<std::uint8_t*>(r->data.empty() ? Sim::Empty : r->data.data());
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
    if (auto e = pc().Enter("SizeofResource", "")) return Sim::Fail(*e, 0);
    const Sim::Machine::Resource* r = Sim::IsOwnModule(module) ? Sim::ResourceOf(resource) : nullptr;
    if (!r) return Sim::Fail(ERROR_RESOURCE_DATA_NOT_FOUND, 0);
    return DWORD(r->data.size());
}

// Resources of a loaded module need no freeing; like Windows, always FALSE.
BOOL WINAPI FreeResource(HGLOBAL) {
    pc().Enter("FreeResource", "");
    return FALSE;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    Sim::Machine& m = pc();
    const std::string requested = name ? name : "";
    if (auto e = m.Enter("LoadLibraryExA", requested + " " + std::to_string(flags))) return Sim::Fail(*e, nullptr);
    if (file) Sim::Unmodelled("LoadLibraryExA with a file handle");
    m.loadedLibraries.push_back(requested + " " + std::to_string(flags));
    std::string base = requested;
    if (flags == LOAD_LIBRARY_SEARCH_SYSTEM32) {
        if (!m.systemSearchFlagSupported) return Sim::Fail(ERROR_INVALID_PARAMETER, nullptr);
        if (requested.find_first_of("\\/") != std::string::npos) Sim::Unmodelled("system search with a path");
    } else if (flags == 0) {
        // Only a full path into the system folder is modelled: anything
        // else would search the folders a planted library can sit in.
        const std::string prefix = Sim::UpperAscii(m.systemFolder + "\\");
        if (Sim::UpperAscii(requested).rfind(prefix, 0) != 0)
            Sim::Unmodelled("LoadLibraryExA without a full system path: " + requested);
        base = requested.substr(prefix.size());
    } else {
        Sim::Unmodelled("LoadLibraryExA flags");
    }
    if (m.missingLibraries.count(base)) return Sim::Fail(ERROR_MOD_NOT_FOUND, nullptr);
    if (Sim::UpperAscii(base) == "BCRYPT.DLL") return Sim::Bcrypt;
    if (Sim::UpperAscii(base) == "VERSION.DLL") return Sim::Version;                 // sim_version.cpp
    if (Sim::UpperAscii(base) == "RSTRTMGR.DLL") return ++m.rmLoads, Sim::Rstrtmgr;  // sim_restart_manager.cpp
    return Sim::Fail(ERROR_MOD_NOT_FOUND, nullptr);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (auto e = pc().Enter("GetProcAddress", Sim::IsIntResource(name) ? "#" : name)) return Sim::Fail(*e, nullptr);
    const std::string n = Sim::IsIntResource(name) ? "" : name;
    if (module != Sim::Bcrypt && module != Sim::Version && module != Sim::User32 && module != Sim::Advapi32 &&
        module != Sim::Kernel32 && module != Sim::Rstrtmgr)
        return Sim::Fail(ERROR_INVALID_HANDLE, FARPROC(nullptr));
    // What each system exports: GetDpiForWindow from Windows 10 version
    // 1607, GetNativeSystemInfo from XP, the private namespaces from Vista.
    using M = Sim::Machine;
#define SIM_CALL(f) std::pair<std::string, FARPROC>(#f, FARPROC(&f))
    const std::tuple<HMODULE, bool M::*, std::vector<std::pair<std::string, FARPROC>>> exports[] = {
        {Sim::Bcrypt,
         nullptr,
         {SIM_CALL(BCryptOpenAlgorithmProvider), SIM_CALL(BCryptGetProperty), SIM_CALL(BCryptCreateHash),
          SIM_CALL(BCryptHashData), SIM_CALL(BCryptFinishHash), SIM_CALL(BCryptDestroyHash),
          SIM_CALL(BCryptCloseAlgorithmProvider)}},
        {Sim::Version,
         nullptr,
         {SIM_CALL(GetFileVersionInfoSizeA), SIM_CALL(GetFileVersionInfoA), SIM_CALL(VerQueryValueA)}},
        {Sim::User32, &M::dpiForWindowExported, {SIM_CALL(GetDpiForWindow)}},
        {Sim::Rstrtmgr,
         nullptr,
         {SIM_CALL(RmStartSession), SIM_CALL(RmRegisterResources), SIM_CALL(RmGetList), SIM_CALL(RmEndSession)}},
        {Sim::Kernel32, &M::nativeSystemInfoExported, {SIM_CALL(GetNativeSystemInfo)}},
        {Sim::Kernel32, &M::defaultDllDirectoriesExported, {SIM_CALL(SetDefaultDllDirectories)}},
        {Sim::Kernel32,
         &M::privateNamespacesExported,
         {SIM_CALL(CreateBoundaryDescriptorW), SIM_CALL(AddSIDToBoundaryDescriptor), SIM_CALL(DeleteBoundaryDescriptor),
          SIM_CALL(CreatePrivateNamespaceW), SIM_CALL(OpenPrivateNamespaceW), SIM_CALL(ClosePrivateNamespace)}},
    };
#undef SIM_CALL
    for (const auto& [from, exported, calls] : exports)
        for (const auto& [call, address] : calls)
            if (from == module && n == call && (!exported || pc().*exported)) return address;
    return Sim::Fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    pc().Enter("FreeLibrary", "");
    if (module == Sim::Rstrtmgr && pc().rmLoads > 0) return --pc().rmLoads, TRUE;
    if (module != Sim::Bcrypt && module != Sim::Version) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR id, LPCWSTR implementation,
                                            ULONG flags) {
    if (NTSTATUS s = Sim::Injected("BCryptOpenAlgorithmProvider")) return s;
    if (!algorithm || !id || implementation || flags) return STATUS_INVALID_PARAMETER;
    if (std::wcscmp(id, BCRYPT_SHA256_ALGORITHM) != 0) return STATUS_NOT_FOUND;
    *algorithm = &Sim::algorithmToken;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG size, ULONG* result,
                                  ULONG flags) {
    if (NTSTATUS s = Sim::Injected("BCryptGetProperty")) return s;
    if (object != &Sim::algorithmToken || !property || !result || flags) return STATUS_INVALID_PARAMETER;
    ULONG value;
    if (std::wcscmp(property, BCRYPT_OBJECT_LENGTH) == 0)
        value = 0;
    else if (std::wcscmp(property, BCRYPT_HASH_LENGTH) == 0)
        value = 32;
    else
        return STATUS_NOT_FOUND;
    *result = sizeof(ULONG);
    if (!output) return STATUS_SUCCESS;
    if (size < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(output, &value, sizeof value);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR, ULONG, PUCHAR secret,
                                 ULONG secretSize, ULONG flags) {
    if (NTSTATUS s = Sim::Injected("BCryptCreateHash")) return s;
    if (algorithm != &Sim::algorithmToken || !hash || secret || secretSize || flags) return STATUS_INVALID_PARAMETER;
    auto* h = new Sim::Hash{EVP_MD_CTX_new()};
    EVP_DigestInit_ex(h->context, EVP_sha256(), nullptr);
    *hash = h;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG size, ULONG flags) {
    if (NTSTATUS s = Sim::Injected("BCryptHashData")) return s;
    if (!hash || flags || (size && !input)) return STATUS_INVALID_PARAMETER;
    EVP_DigestUpdate(static_cast<Sim::Hash*>(hash)->context, input, size);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG size, ULONG flags) {
    if (NTSTATUS s = Sim::Injected("BCryptFinishHash")) return s;
    if (!hash || !output || size != 32 || flags) return STATUS_INVALID_PARAMETER;
    unsigned int n = 0;
    EVP_DigestFinal_ex(static_cast<Sim::Hash*>(hash)->context, output, &n);
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
    pc().Enter("BCryptDestroyHash", "");
    if (!hash) return STATUS_INVALID_HANDLE;
    auto* h = static_cast<Sim::Hash*>(hash);
    EVP_MD_CTX_free(h->context);
    delete h;
    return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
    pc().Enter("BCryptCloseAlgorithmProvider", "");
    if (algorithm != &Sim::algorithmToken || flags) return STATUS_INVALID_HANDLE;
    return STATUS_SUCCESS;
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    if (auto e = pc().Enter("SetDefaultDllDirectories", std::to_string(flags))) return Sim::Fail(*e, FALSE);
    if (!pc().defaultDllDirectoriesExported) Sim::Unmodelled("SetDefaultDllDirectories called where it does not exist");
    constexpr DWORD Known = 0x00000200 | 0x00000400 | 0x00000800 | 0x00001000;  // application, user, system32, defaults
    if (flags == 0 || (flags & ~Known)) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    pc().defaultDllDirectories = flags;
    return TRUE;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR path) {
    if (auto e = pc().Enter("SetDllDirectoryA", path ? path : "(null)")) return Sim::Fail(*e, FALSE);
    if (path)
        pc().dllDirectory = std::string(path);
    else
        pc().dllDirectory.reset();
    return TRUE;
}
