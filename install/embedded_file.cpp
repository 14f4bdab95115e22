#include "install/embedded_file.h"

#include <cstring>
#include <memory>
#include <new>

#include "messages/messages.h"
#include "platform/win32.h"

namespace {

// The resource bytes, copied out of the module image.
struct ResourceCopy {
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
};

bool CopyResource(const std::string& name, const std::string& type, ResourceCopy& copy) {
    HRSRC resource = FindResourceA(nullptr, name.c_str(), type.c_str());
    if (!resource) return false;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (!loaded) return false;
    const void* data = LockResource(loaded);
    // 0 is both an empty resource and a failure; only the error tells.
    SetLastError(ERROR_SUCCESS);
    const DWORD size = SizeofResource(nullptr, resource);
    bool ok = data != nullptr && (size != 0 || GetLastError() == ERROR_SUCCESS);
    if (ok) {
        copy.bytes.reset(new (std::nothrow) unsigned char[size ? size : 1]);
        ok = copy.bytes != nullptr;
        if (ok) {
            std::memcpy(copy.bytes.get(), data, size);
            copy.size = size;
        }
    }
    FreeResource(loaded);
    return ok;
}

// Writes the whole buffer with one write and makes it durable before the
// caller renames it into place.
bool WriteNewFile(const std::string& path, const ResourceCopy& copy) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, copy.bytes.get(), copy.size, &written, nullptr) && written == copy.size;
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    return ok;
}

// The installed file is replaced in one step, so a failure at any point
// leaves it as it was: never truncated, never half written.
bool ReplaceFile(const std::string& target, const ResourceCopy& copy) {
    const std::string temp = TempInstallName(target);
    if (WriteNewFile(temp, copy) &&
        MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temp.c_str());
    return false;
}

}  // namespace

std::string TempInstallName(const std::string& path) {
    std::string temp = path;
    // The last character is never the cut: "D:\Games\App\" gives "D:\Games\~App\".
    const std::size_t cut = path.size() >= 2 ? path.rfind('\\', path.size() - 2) : std::string::npos;
    if (cut == std::string::npos) temp.insert(0, "~");
    else temp.insert(cut + 1, "~");
    return temp;
}

bool InstallEmbeddedFile(const std::string& name, const std::string& type, const std::string& target,
                         bool versionCheck) {
    // The version-compared replacement is not built yet; nothing in this
    // installer asks for it.
    (void)versionCheck;
    ResourceCopy copy;
    const bool written = CopyResource(name, type, copy) && ReplaceFile(target, copy);
    if (!written) ShowError("Can't install file " + target, "Не удается установить файл " + target);
    return written;
}
