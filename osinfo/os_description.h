// A readable description of the running Windows, such as "Microsoft Windows
// XP Professional Service Pack 3" or "Windows 10 Pro 64-bit", and whether it
// names a 64-bit Windows, which the start-up keeps to pick the registry view
// of the run.
#pragma once

#include <optional>
#include <string>

#include "platform/win32.h"

// What the description reads of the registry: keys and values under
// HKEY_LOCAL_MACHINE, each read through an accessor of its own, opened with
// the access given and closed before the read returns. The caller hands in
// the registry accessor in this shape (the start-up gives the installation
// environment's), as the accessor's folder stands above this one.
class TMachineRegistry {
public:
    // Whether the key opens.
    virtual bool KeyOpens(const std::string& path, REGSAM access) = 0;
    // A text value as the accessor reads it (up to its first NUL, empty for
    // an empty value); nothing when the key does not open, the value is
    // missing, or it is not text or cannot be read.
    virtual std::optional<std::string> ReadText(const std::string& path, const std::string& name, REGSAM access) = 0;
    // A value as stored, read in one query into `limit` bytes; false when
    // the key does not open, or the value is missing, larger or unreadable.
    virtual bool ReadBytes(const std::string& path, const std::string& name, REGSAM access, DWORD limit, DWORD& type,
                           std::string& bytes) = 0;

protected:
    ~TMachineRegistry() = default;
};

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
bool GetWindowsNameParts(WindowsNameParts& parts, TMachineRegistry& registry,
                         VersionTextUse use = VersionTextUse::Shown);

// The name, then the version text when includeVersion is set and it is not
// blank, then the service-pack text when it is not blank, joined by blanks.
std::string JoinDescription(const WindowsNameParts& parts, bool includeVersion);

struct TOsDescription {
    std::string Text;      // "unknown" when the system cannot be identified
    bool Is64Bit = false;  // the text holds " 64"; never for "unknown"
};

TOsDescription OsDescription(bool includeVersion, TMachineRegistry& registry);
