#include "platform/files.h"

#include "platform/owned_handle.h"

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<TFileIdentity> SoleNamePlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) || info.nNumberOfLinks != 1)
        return std::nullopt;
    return TFileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool IsSoleNamePlainFile(HANDLE file) { return SoleNamePlainFile(file).has_value(); }

bool NameStillHolds(const std::string& path, const TFileIdentity& identity) {
    // Only to look: whoever else has it open keeps it, and may rename it.
    const TOwnedFile file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return false;
    return SoleNamePlainFile(file.Get()) == identity;
}
