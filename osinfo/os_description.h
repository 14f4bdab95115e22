// A readable description of the running Windows, such as "Microsoft Windows
// XP Professional Service Pack 3" or "Windows 10 Pro 64-bit", and whether it
// names a 64-bit Windows, which the start-up keeps to pick the registry view
// of the run.
#pragma once

#include <string>

struct WindowsNameParts {
    std::string name;         // "Microsoft Windows " and the words of the tables, or ProductName
    std::string versionText;  // from "ver" where it is run, else major.minor.build
    std::string servicePack;  // the service-pack text the system reports
};

// Whether the caller shows the version text. Only then does the "ver"
// command have to run on a system whose ProductName settles the name.
enum class VersionTextUse { Shown, Unused };

// False when the system cannot be identified (no version record, or a
// platform other than Windows 9x and NT).
bool GetWindowsNameParts(WindowsNameParts& parts, VersionTextUse use = VersionTextUse::Shown);

// The name, then the version text when includeVersion is set and it is not
// blank, then the service-pack text when it is not blank, joined by blanks.
std::string JoinDescription(const WindowsNameParts& parts, bool includeVersion);

struct TOsDescription {
    std::string Text;      // "unknown" when the system cannot be identified
    bool Is64Bit = false;  // the text holds " 64"; never for "unknown"
};

TOsDescription OsDescription(bool includeVersion);
