// Version values of the file types the version-compared replacement knows,
// and the comparison of executable file versions. A probe never stops an
// installation: a file it cannot read counts as version 0 (empty text for
// an executable).
#pragma once

#include <cstdint>
#include <string>

// "pak": unsigned 16 bits at offset 6. "cok": unsigned 16 bits at offset 5.
// "3bs": one byte at offset 6. Little-endian; 0 when there is no file, it
// cannot be opened, or it ends before the field does.
std::int32_t ProbePakVersion(const std::string& path);
std::int32_t ProbeCokVersion(const std::string& path);
std::int32_t Probe3bsVersion(const std::string& path);

// "lng": the line after the [langver] section line of a language support
// file, or the last line when there is none. 0 without a message when the
// file is missing; 0 after a message when it cannot be read or the value is
// not a number.
std::int32_t ProbeLngVersion(const std::string& path);

// The FileVersion string of an executable's version resource, first
// translation only; empty for anything that is not an executable or has no
// usable version information.
std::string FileVersionString(const std::string& path);

// True when the installed version is the greater. Compares up to three
// leading dot-terminated numbers, then the remainders.
bool IsOlderVersion(const std::string& newVersion, const std::string& installedVersion);
