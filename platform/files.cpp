#include "platform/files.h"

#include <vector>

#include "platform/code_pages.h"
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

namespace {

// The system's own full name of the open folder is "\\?\" and `name`,
// letter case aside: no link, junction or short name stands on its way.
bool NamedSo(HANDLE folder, const std::wstring& name) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::vector<WCHAR> final(MAX_PATH);
    DWORD length = GetFinalPathNameByHandleW(folder, final.data(), DWORD(final.size()), flags);
    if (length >= final.size()) {
        final.resize(length);
        length = GetFinalPathNameByHandleW(folder, final.data(), DWORD(final.size()), flags);
    }
    const std::wstring expected = L"\\\\?\\" + name;
    return length != 0 && length < final.size() &&
           CompareStringOrdinal(final.data(), int(length), expected.c_str(), int(expected.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

TOwnedFile HoldFolder(const std::string& folder, std::string& refusal) {
    for (const char* device : {"\\\\?\\", "\\\\.\\", "\\??\\"})
        if (folder.rfind(device, 0) == 0) {
            refusal = "a name outside the file system";
            SetLastError(ERROR_BAD_PATHNAME);
            return TOwnedFile();
        }
    // Without its last backslash, so that a link at the name is opened
    // itself rather than looked through; a drive's root keeps it.
    std::string name = folder;
    if (name.size() > 3 && name.back() == '\\') name.pop_back();
    const std::optional<std::wstring> wide = ToUnicode(name, CP_ACP);
    if (!wide) {
        refusal = "a name the system code page cannot convert";
        return TOwnedFile();
    }
    TOwnedFile held(CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held) {
        refusal = "it could not be opened";
        return held;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(held.Get(), &info)) {
        refusal = "it could not be examined";
        held.Reset();
    } else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
               FILE_ATTRIBUTE_DIRECTORY) {
        refusal = info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? "a junction or link" : "no folder";
        held.Reset();
        SetLastError(ERROR_DIRECTORY);
    } else if (!NamedSo(held.Get(), *wide)) {
        // A link above the folder is not held by this handle, and could
        // be pointed elsewhere meanwhile.
        refusal = "reached through a link, or by another name";
        held.Reset();
        SetLastError(ERROR_BAD_PATHNAME);
    }
    return held;
}
