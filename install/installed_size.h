// The installed size of the application, as its uninstall entry reports it.
#pragma once

#include <cstdint>
#include <string>

// Total size in KiB of the files in `folder` and every folder below it;
// -1 when the path is empty or not a folder.
std::int64_t FolderSizeKb(const std::string& folder);

// Writes the size of AppFolder to the EstimatedSize value of the
// application's uninstall entry (created when missing). A failed write
// raises ERegistryException.
void ReportInstalledSize();
