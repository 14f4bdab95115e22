// Writing a resource of the installer's own module to a file whose
// installed version may be newer. No run of the installer calls it: the
// update sequence writes its one data file with InstallDataFile
// (embedded_file.h). It waits for a package that carries files of the
// types below.
#pragma once

#include <string>

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
