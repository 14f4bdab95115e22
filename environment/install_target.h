// Where the application is installed, and whether the user may install.
#pragma once

#include <optional>
#include <string>

struct TInstallEnvironment {
    std::string AppFolder;         // ends in a backslash
    std::string UninstallKeyPath;  // below HKLM, ends in a backslash
    bool UserIsAdmin = false;
    // The uninstall entry the installed size belongs to: the one whose
    // UninstallString gave the folder, or the normal entry.
    std::string UninstallEntryPath;
};

extern TInstallEnvironment InstallEnvironment;

// Appends a backslash to a non-empty path that lacks one.
void AddTrailingBackslash(std::string& path);

// The folder an UninstallString names: everything up to the last backslash
// before its final character. A quoted value gives the folder of the quoted
// path. Nothing when there is no such backslash.
std::optional<std::string> UninstallStringFolder(const std::string& value);

// Fills InstallEnvironment. False: the registry message has been shown and
// the run must stop.
bool DiscoverInstallTarget();
