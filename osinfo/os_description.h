// A readable description of the running Windows; computing it sets Is64BitOs.
#pragma once

#include <string>

std::string OsDescription(bool includeVersion);
