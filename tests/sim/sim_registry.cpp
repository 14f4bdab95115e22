// Covers: platform/win32.h, host half. The simulated registry: HKLM and HKCU trees, typed values, and the 32-bit
// view that a 32-bit process on 64-bit Windows gets for HKLM\Software.
#include <cstring>
#include <sstream>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::istringstream in(path);
    for (std::string part; std::getline(in, part, '\\');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "\\") + p;
    return out;
}

bool Same(const std::string& a, const char* b) { return UpperAscii(a) == b; }

// The view: a 32-bit process on 64-bit Windows that does not ask for the
// 64-bit view sees HKLM\Software\X at HKLM\Software\Wow6432Node\X.
std::string Physical(HKEY root, const std::string& path, REGSAM access) {
    std::vector<std::string> parts = Split(path);
    if (root == HKEY_LOCAL_MACHINE && pc().wow64 && !(access & KEY_WOW64_64KEY) && parts.size() >= 2 &&
        Same(parts[0], "SOFTWARE") && !Same(parts[1], "WOW6432NODE"))
        parts.insert(parts.begin() + 1, "Wow6432Node");
    return Join(parts);
}

constexpr REGSAM WriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0x00010000 /*DELETE*/ |
                               0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/;

bool Predefined(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

struct Base {
    HKEY root = nullptr;
    std::string path;
    REGSAM access = 0;
};

// The key a handle stands for; nullopt for a handle that is not open.
std::optional<Base> Resolve(HKEY key) {
    if (Predefined(key)) return Base{key, "", KEY_ALL_ACCESS};
    auto it = pc().regHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == pc().regHandles.end()) return std::nullopt;
    return Base{it->second.root, it->second.path, it->second.access};
}

std::string RootName(HKEY root) { return root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU"; }

HKEY NewKeyHandle(HKEY root, const std::string& path, REGSAM access) {
    const std::uintptr_t value = std::exchange(pc().nextHandle, pc().nextHandle + 4);
    pc().regHandles[value] = Machine::RegHandle{root, path, access};
    return reinterpret_cast<HKEY>(value);
}

LSTATUS Denied(const RegKey& key, REGSAM access) {
    if (key.denyOpen) return ERROR_ACCESS_DENIED;
    if (key.adminOnlyWrite && !pc().userIsAdmin && (access & WriteRights)) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

LSTATUS OpenOrCreate(const char* function, HKEY key, LPCSTR subKey, REGSAM access, PHKEY result, bool create,
                     LPDWORD disposition) {
    const std::optional<Base> base = Resolve(key);
    const std::string sub = subKey ? subKey : "";
    std::string logical = base ? base->path : "";
    if (!sub.empty()) logical = logical.empty() ? sub : logical + "\\" + sub;
    if (auto e = pc().Enter(function, (base ? RootName(base->root) + "\\" : "?\\") + logical)) return LSTATUS(*e);
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!base) return ERROR_INVALID_HANDLE;
    if (!sub.empty() && sub[0] == '\\') return ERROR_BAD_PATHNAME;
    const std::string physical = Physical(base->root, logical, access);
    Registry& reg = pc().registry;
    RegKey* node = reg.FindKey(base->root, physical);
    if (!node) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        // Creating needs the right to add a subkey to the deepest existing parent.
        std::vector<std::string> parts = Split(physical);
        RegKey* parent = reg.Root(base->root);
        for (const std::string& p : parts) {
            auto it = parent->subkeys.find(p);
            if (it == parent->subkeys.end()) break;
            parent = it->second.get();
        }
        if (LSTATUS denied = Denied(*parent, KEY_CREATE_SUB_KEY)) return denied;
        node = &reg.Key(base->root, physical);
        if (disposition) *disposition = REG_CREATED_NEW_KEY;
    } else if (disposition) {
        *disposition = REG_OPENED_EXISTING_KEY;
    }
    if (LSTATUS denied = Denied(*node, access)) return denied;
    *result = NewKeyHandle(base->root, physical, access);
    return ERROR_SUCCESS;
}

}  // namespace

Registry::Registry() {
    hklm_.name = "HKEY_LOCAL_MACHINE";
    hklm_.adminOnlyWrite = true;
    hkcu_.name = "HKEY_CURRENT_USER";
}

RegKey* Registry::Root(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return &hklm_;
    if (root == HKEY_CURRENT_USER) return &hkcu_;
    Unmodelled("registry root other than HKLM and HKCU");
    return &hkcu_;
}

RegKey& Registry::Key(HKEY root, const std::string& path) {
    RegKey* node = Root(root);
    for (const std::string& p : Split(path)) {
        auto& child = node->subkeys[p];
        if (!child) {
            child = std::make_unique<RegKey>();
            child->name = p;
            child->adminOnlyWrite = node->adminOnlyWrite;
        }
        node = child.get();
    }
    return *node;
}

RegKey* Registry::FindKey(HKEY root, const std::string& path) {
    RegKey* node = Root(root);
    for (const std::string& p : Split(path)) {
        auto it = node->subkeys.find(p);
        if (it == node->subkeys.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

void Registry::SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                        std::vector<std::uint8_t> data) {
    Key(root, path).values[name] = {name, RegValue{type, std::move(data)}};
}

void Registry::SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                         DWORD type) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    SetValue(root, path, name, type, std::move(data));
}

void Registry::SetDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
    std::vector<std::uint8_t> data(4);
    std::memcpy(data.data(), &value, 4);
    SetValue(root, path, name, REG_DWORD, std::move(data));
}

std::optional<RegValue> Registry::Value(HKEY root, const std::string& path, const std::string& name) {
    RegKey* key = FindKey(root, path);
    if (!key) return std::nullopt;
    auto it = key->values.find(name);
    if (it == key->values.end()) return std::nullopt;
    return it->second.second;
}

std::optional<DWORD> Registry::Dword(HKEY root, const std::string& path, const std::string& name) {
    auto v = Value(root, path, name);
    if (!v || v->type != REG_DWORD || v->data.size() != 4) return std::nullopt;
    DWORD out;
    std::memcpy(&out, v->data.data(), 4);
    return out;
}

}  // namespace Sim

using Sim::pc;

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    if (options != 0) Sim::Unmodelled("RegOpenKeyExA options");
    return Sim::OpenOrCreate("RegOpenKeyExA", key, subKey, access, result, false, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    if (reserved != 0 || (className && *className) || options != REG_OPTION_NON_VOLATILE || security)
        Sim::Unmodelled("RegCreateKeyExA with class, options or security");
    return Sim::OpenOrCreate("RegCreateKeyExA", key, subKey, access, result, true, disposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    const std::string valueName = name ? name : "";
    if (auto e = pc().Enter("RegQueryValueExA", valueName)) return LSTATUS(*e);
    if (reserved) return ERROR_INVALID_PARAMETER;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    const std::optional<Sim::Base> base = Sim::Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (!(base->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Sim::RegKey* node = pc().registry.FindKey(base->root, base->path);
    if (!node) return ERROR_INVALID_HANDLE;
    auto it = node->values.find(valueName);
    if (it == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const Sim::RegValue& value = it->second.second;
    if (data && node->failReads) return ERROR_ACCESS_DENIED;
    if (type) *type = value.type;
    // Text stored without its terminating NUL is handed out with one.
    std::vector<std::uint8_t> bytes = value.data;
    if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ) && !bytes.empty() &&
        bytes.back() != 0)
        bytes.push_back(0);
    const DWORD needed = DWORD(bytes.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    const std::string valueName = name ? name : "";
    if (auto e = pc().Enter("RegSetValueExA", valueName)) return LSTATUS(*e);
    if (reserved) return ERROR_INVALID_PARAMETER;
    const std::optional<Sim::Base> base = Sim::Resolve(key);
    if (!base) return ERROR_INVALID_HANDLE;
    if (!(base->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    Sim::RegKey* node = pc().registry.FindKey(base->root, base->path);
    if (!node) return ERROR_INVALID_HANDLE;
    if (size && !data) return 998;  // ERROR_NOACCESS
    std::vector<std::uint8_t> bytes(data, data + size);
    node->values[valueName] = {valueName, Sim::RegValue{type, std::move(bytes)}};
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    // A failing close still closes: the handle is gone either way.
    const std::optional<DWORD> fault = pc().Enter("RegCloseKey", "");
    if (Sim::Predefined(key)) return fault ? LSTATUS(*fault) : ERROR_SUCCESS;
    if (pc().regHandles.erase(reinterpret_cast<std::uintptr_t>(key)) == 0) return ERROR_INVALID_HANDLE;
    return fault ? LSTATUS(*fault) : ERROR_SUCCESS;
}
