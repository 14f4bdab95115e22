#include "install/installed_size.h"

#include <vector>

#include "environment/install_environment.h"
#include "environment/process_values.h"
#include "messages/support_log.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"
#include "runtime/text.h"

std::int64_t FolderSizeKb(const std::string& folder, const std::string& replaced) {
    if (folder.empty()) return -1;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return -1;

    // Breadth-first: the folder, then its subfolders in listing order, and
    // so on. Sizes are summed in bytes (64 bits) and divided once at the end.
    std::uint64_t total = 0;
    std::vector<std::string> worklist{folder};
    for (std::size_t index = 0; index < worklist.size(); ++index) {
        std::string current = worklist[index];
        AddTrailingBackslash(current);
        WIN32_FIND_DATAA entry;
        TOwnedFind find(FindFirstFileA((current + "*.*").c_str(), &entry));
        if (!find) continue;  // an unlistable folder adds nothing
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (UpperAscii(current + entry.cFileName) == UpperAscii(replaced)) continue;
                total += (std::uint64_t(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            } else if (std::string name = entry.cFileName; name != "." && name != "..") {
                // A link to a folder may lead back into the tree: never walk one.
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) worklist.push_back(current + name);
            }
        } while (FindNextFileA(find.Get(), &entry));
    }
    return std::int64_t(total >> 10);
}

void ReportInstalledSize(const TInstalledData* installed, DWORD packageVersion) {
    TRegistry& registry = *SharedRegistry;
    registry.SelectRoot(HKEY_LOCAL_MACHINE);
    ClosePathOnExit close(registry);
    registry.OpenPath(InstallEnvironment.UninstallEntryPath, true);
    // A staged file stands in for the one it replaces at the restart.
    const bool staged = installed && installed->staged;
    const std::int64_t size = FolderSizeKb(InstallEnvironment.AppFolder, staged ? installed->target : "");
    if (size < 0) {
        SupportLog::Note("installed size: the application's folder is gone");
        return;
    }
    registry.WriteDword("EstimatedSize", size > 0xFFFFFFFF ? 0xFFFFFFFFu : DWORD(size));
    SupportLog::Note("installed size: " + std::to_string(size) + " KiB" + (staged ? " after the restart" : ""));
    if (!installed) return;
    // Beside the size, in the same key and view: what a detection rule
    // compares. The entry goes with the application when it is removed.
    registry.WriteDword(InstalledVersionValue, packageVersion);
    registry.WriteText(InstalledSha256Value, installed->sha256);
    SupportLog::Note("detection values: version " + std::to_string(packageVersion) + ", SHA-256 " +
                     (installed->sha256.empty() ? std::string("unknown") : installed->sha256));
}
