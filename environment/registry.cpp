#include "environment/registry.h"

#include <vector>

#include "runtime/exception.h"

void TRegistry::SelectRoot(HKEY root) {
    if (root == root_) return;
    ClosePath();
    root_ = root;
}

bool TRegistry::OpenPath(const std::string& path, bool create) {
    std::string relative = path;
    HKEY base = key_ ? key_.Get() : root_;
    if (!relative.empty() && relative[0] == '\\') {
        relative.erase(0, 1);
        base = root_;
    }
    HKEY opened = nullptr;
    LSTATUS status;
    if (!create || relative.empty()) {
        status = RegOpenKeyExA(base, relative.c_str(), 0, access_, &opened);
    } else {
        DWORD disposition = 0;
        status = RegCreateKeyExA(base, relative.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr, &opened,
                                 &disposition);
    }
    if (status != ERROR_SUCCESS) return false;
    key_.Reset(opened);
    return true;
}

bool TRegistry::HasValue(const std::string& name) {
    if (!key_) return false;
    DWORD type = 0, size = 0;
    return RegQueryValueExA(key_.Get(), name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

std::string TRegistry::ReadText(const std::string& name, DWORD* textType) {
    DWORD type = 0, size = 0;
    if (textType) *textType = REG_NONE;
    if (!key_ || RegQueryValueExA(key_.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size == 0)
        return std::string();
    std::vector<char> data(std::size_t(size) + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key_.Get(), name.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &got) !=
        ERROR_SUCCESS)
        throw ERegistryException("Failed to get data for '" + name + "'");
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException("Invalid data type for '" + name + "'");
    if (textType) *textType = type;
    return std::string(data.data());
}

bool TRegistry::ReadBytes(const std::string& name, DWORD limit, DWORD& type, std::string& bytes) {
    if (!key_) return false;
    std::vector<char> data(limit ? limit : 1, '\0');
    DWORD size = limit;
    if (RegQueryValueExA(key_.Get(), name.c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    bytes.assign(data.data(), size < limit ? size : limit);
    return true;
}

void TRegistry::WriteDword(const std::string& name, DWORD value) {
    if (RegSetValueExA(key_.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) !=
        ERROR_SUCCESS)
        throw ERegistryException("");
}

void TRegistry::WriteText(const std::string& name, const std::string& value) {
    if (RegSetValueExA(key_.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD(value.size() + 1)) != ERROR_SUCCESS)
        throw ERegistryException("");
}

void TRegistry::ClosePath() { key_.Close(); }
