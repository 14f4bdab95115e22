// Finding where the application is installed, and whether the user may
// install: the discovery that fills InstallEnvironment.
#pragma once

#include <optional>
#include <string>

#include "environment/install_environment.h"

// The folder an UninstallString names: everything up to the last backslash
// before its final character. A quoted value gives the folder of the quoted
// path. Nothing when there is no such backslash.
std::optional<std::string> UninstallStringFolder(const std::string& value);

// Fills InstallEnvironment for the application `appName`, the name of its
// folder and of its uninstall entry. False: the registry message has been
// shown and the run must stop.
bool DiscoverInstallTarget(const std::string& appName);
