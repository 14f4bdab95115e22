// What the installer relies on from the application it updates.
#pragma once

#include <string>

// Exists exactly while the application runs: it creates this named file
// mapping (paging file, 64 bytes) at start and holds it until it ends.
inline constexpr const char* InstanceMappingName = "lexomir_memfile";
// The class of its main window, which ends the application on WM_QUIT.
inline constexpr const char* MainWindowClass = "TLXMainForm";

// AppFolder + AppName + ".exe".
std::string AppExecutablePath();
