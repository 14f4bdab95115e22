// The questions the installer asks about files, asked one way everywhere.
#pragma once

#include <optional>
#include <string>

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
// The name still stands for that file, itself and not through a link: no
// one has deleted, renamed or exchanged it since it was made.
bool NameStillHolds(const std::string& path, const TFileIdentity& identity);
