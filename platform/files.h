// The questions the installer asks about files, asked one way everywhere.
#pragma once

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
