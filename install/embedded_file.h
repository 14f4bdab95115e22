// Writing a resource of the installer's own module to a file.
#pragma once

#include <string>

// Writes resource `name` of type `type` to `target`. With the version check
// off it replaces the target outright. Failures are reported to the user
// ("Can't install file ..."); the result says whether the file was written.
bool InstallEmbeddedFile(const std::string& name, const std::string& type, const std::string& target,
                         bool versionCheck);

// The temporary name beside `path`: "~" in front of its last name.
std::string TempInstallName(const std::string& path);
