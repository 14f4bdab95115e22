// The installed size of the application, as its uninstall entry reports it.
#pragma once

#include <cstdint>
#include <string>

#include "install/embedded_file.h"
#include "platform/win32.h"

// Total size in KiB of the files in `folder` and every folder below it,
// leaving out the file `replaced` (a full path) where given; -1 when the
// path is empty or not a folder.
std::int64_t FolderSizeKb(const std::string& folder, const std::string& replaced = std::string());

// The values of the uninstall entry that tell what the update installed,
// for the detection rules of deployment tools.
inline constexpr char InstalledVersionValue[] = "LexomirUpdateVersion";
inline constexpr char InstalledSha256Value[] = "LexomirUpdateSha256";

// Writes the size of AppFolder to the EstimatedSize value of the
// application's uninstall entry (created when missing); after a write of
// the data file (`installed`), also the package's version and the data's
// SHA-256, and, where it was staged, the size it will have after the
// restart. A failed write raises ERegistryException.
void ReportInstalledSize(const TInstalledData* installed = nullptr, DWORD packageVersion = 0);
