// Process-wide facts fixed once at start-up (by InitProcessEnvironment) and
// read by the stages above the installation environment. Nothing below it
// reads or writes them: the OS description returns the 64-bit flag for the
// start-up to keep, and the boxes are given the language with their
// settings (messages/messages.h).
#pragma once

#include <memory>
#include <string>

#include "environment/registry.h"
#include "platform/win32.h"

extern bool RussianUi;                             // every message in Russian (true) or English
extern bool Is64BitOs;                             // the OS description holds " 64"
extern std::string FirstArgument;                  // first command-line word, A-Z lowered
extern std::string SecondArgument;                 // second command-line word, A-Z lowered
extern DWORD Win32Platform;                        // the platform id the system reports
extern std::string OsDescriptionText;              // the Windows the run found, for the support log
extern std::unique_ptr<TRegistry> SharedRegistry;  // the one accessor of the run
