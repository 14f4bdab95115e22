// Where the application is installed, and whether the user may install:
// found once by the install-target discovery, read by every later stage.
#pragma once

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
