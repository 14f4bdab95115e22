// The constants that describe this update package.
#pragma once

#include <cstdint>
#include <string>

struct TUpdatePackage {
    std::string PackageTitle;
    std::int32_t PackageVersion = 0;
    std::string DataName;
    std::string DataExt = "cok";
    std::string DataFileName;
    std::string AppName;
    std::string RussianTitle;    // caption of Russian error boxes
    std::string EnglishTitle;    // caption of English error boxes
    std::string VersionedTitle;  // PackageTitle and PackageVersion in decimal
};

extern TUpdatePackage UpdatePackage;
