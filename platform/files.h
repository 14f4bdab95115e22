// The questions the installer asks about files, asked one way everywhere.
#pragma once

#include <optional>
#include <string>

#include "platform/owned_handle.h"
#include "platform/win32.h"

// Something that is not a folder stands at `path`: a file, or a file link,
// which is asked itself and not followed (as GetFileAttributesA does).
bool IsExistingFile(const std::string& path);

// The open file is a plain file known by this one name: no link or
// junction, no folder, no second hard link. A file in a folder the user
// can write to may have been exchanged for a link to another file between
// naming and opening it; one that passes this test has not.
bool IsSoleNamePlainFile(HANDLE file);

// Which file an open handle reaches: its volume and its index there, the
// same whatever name it was opened by.
struct TFileIdentity {
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const TFileIdentity&) const = default;
};
// The identity of an open plain file with one name (as above); nothing for
// anything else. The handle needs read access.
std::optional<TFileIdentity> SoleNamePlainFile(HANDLE file);
// The application's folder, held open from before the run's first write
// to its end. Held without sharing delete, it cannot be renamed, deleted
// or replaced by anyone meanwhile, nor can any folder above it (Windows
// refuses to rename a folder with an open handle below it), so the names
// the run builds on it keep standing for files in it. It shares reading
// and writing: the application, Explorer and the run's own rename into
// it open the folder so. Empty, with `refusal` saying why, where `folder`
// is not a folder of a file system: a name in the device or object
// namespace ("\\?\\", "\\.\\"), a junction or link, a file, or
// nothing at all.
TOwnedFile HoldFolder(const std::string& folder, std::string& refusal);
