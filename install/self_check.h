// The installer's check that its own file is as it was built.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

enum class SelfCheckResult {
    Intact,
    Unreadable,  // the file (or the system's hash) could not be used
    Distorted,   // the file has been changed since it was sealed
};

// One of the own file's resources, written out by the check as it reads
// the file: one reading then serves the check and a copy of the data.
struct TResourceCopy {
    std::string type, name;  // a named type and the name, upper-case
    std::uint64_t size = 0;  // as the loaded image has it
    HANDLE out = nullptr;    // written from where it stands
    // Where the check found a resource of that size in the file, which must
    // be the build the process runs (or not), and how much of it was
    // written; a failed write stops the copy.
    bool located = false;
    std::uint64_t offset = 0, written = 0;
    DWORD writeError = 0;
};

// With `copy`, the resource's bytes are written as the check reads them:
// all of them when it was located and the file could be read, unless a
// write failed.
SelfCheckResult CheckOwnFile(TResourceCopy* copy = nullptr);
