// Writing the update's data file from a resource of the installer's own module.
#pragma once

#include <functional>
#include <string>

#include "platform/owned_handle.h"

// What the write of the update's data file left, for the record of what is
// installed.
struct TInstalledData {
    // Beside the installed file, which another program holds open: Windows
    // moves it over that file when it next starts (`stagedPath`).
    bool staged = false;
    std::string target, stagedPath;
    std::string sha256;  // of the new data, 64 upper-case hex digits; empty where it could not be computed
    // Written, or not, but not put in place: the caller said no.
    bool withheld = false;
};

// Asked once the new data has been written to its temporary name (`true`)
// or could not be, before anything is put in place or reported: whether to
// go on. False withholds it: the temporary file is removed, the installed
// one left, and nothing is reported.
using TMayPlace = std::function<bool(bool written)>;

// Writes the data (`size` bytes at `bytes`) to the new file, from where it
// stands; true when all of it was written, else the system's error is the
// last error. Without one, WriteWhole.
using TWriteData = std::function<bool(HANDLE file, const void* bytes, DWORD size)>;

// The bytes with a single WriteFile; true when all of them were written.
bool WriteWhole(HANDLE file, const void* bytes, DWORD size);

// The update's data file, resource `name` of type `type`, written to
// `target`: it replaces the installed file in one step, or, where the
// installed file is held open by another program, or a file that an
// earlier run staged could not be removed, it is staged, to replace the
// installed file at the next restart. Files staged by earlier runs are
// removed once this run's data is in place or staged, so that none can
// replace newer data at a restart. `mayPlace` is asked before anything is
// put in place or reported; `writeData`, where given, writes the data.
// True when the new data is in place or staged; a failure is reported to
// the user ("Can't install file ...").
bool InstallDataFile(const std::string& name, const std::string& type, const std::string& target, TInstalledData& data,
                     const TMayPlace& mayPlace, const TWriteData& writeData = nullptr);

// The report of a file that could not be installed: "Can't install file ...".
void ShowInstallFailure(const std::string& target);

// The temporary name beside `path`: "~" in front of its last name.
std::string TempInstallName(const std::string& path);
