// Process-wide facts fixed once at start-up (by InitProcessEnvironment) and
// read by every later stage. They live below every subsystem, so that the
// messages can read the language and the OS description can set the 64-bit
// flag without either reaching up into the start-up code.
#pragma once

#include <memory>
#include <string>

#include "platform/win32.h"
#include "shared/registry.h"

extern bool RussianUi;                             // every message in Russian (true) or English
extern bool Is64BitOs;                             // the OS description holds " 64"
extern std::string FirstArgument;                  // first command-line word, A-Z lowered
extern DWORD Win32Platform;                        // the platform id the system reports
extern std::string OsDescriptionText;              // the Windows the run found, for the support log
extern std::unique_ptr<TRegistry> SharedRegistry;  // the one accessor of the run
