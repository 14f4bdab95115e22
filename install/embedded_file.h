// Writing a resource of the installer's own module to a file.
#pragma once

#include <string>

#include "platform/owned_handle.h"

// Writes resource `name` of type `type` to `target`. With the version check
// off it replaces the target outright. With it on, an installed file of a
// type whose version can be read ("pak", "3bs", "lng", "cok", "exe") is
// compared with the new data first, and an older file replaces it only
// when the user agrees; the progress window is hidden while they are asked
// and shown again afterwards. Failures are reported to the user ("Can't
// install file ..."). True when the new data has been put in place; false
// after a reported failure and when the user kept the installed file. (A
// progress window that cannot come back is a failure too, although the
// file has been replaced by then.)
bool InstallEmbeddedFile(const std::string& name, const std::string& type, const std::string& target,
                         bool versionCheck);

// The report of a file that could not be installed: "Can't install file ...".
void ShowInstallFailure(const std::string& target);

// One run at a time for an installation: waits, for about a minute, until
// no other run of an installer of the application `appName` is working in
// `folder` (the application's folder), and returns the guard that keeps
// others waiting while it is held. An empty handle when the wait ran out,
// or the guard could not be taken at all. The guard is a file that only
// an administrator can create there; it is never followed through a link
// and is gone when its holder ends, however it ends.
TOwnedFile TakeInstallGuard(const std::string& folder, const std::string& appName);

// The temporary name beside `path`: "~" in front of its last name.
std::string TempInstallName(const std::string& path);
