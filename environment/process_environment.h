// Process-wide facts fixed once at start-up and read by every later stage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "environment/registry.h"
#include "platform/win32.h"

extern bool RussianUi;                             // every message in Russian (true) or English
extern bool Is64BitOs;                             // the OS description holds " 64"
extern std::string FirstArgument;                  // first command-line word, A-Z lowered
extern bool QuietMode;                             // decided and read by the update sequence alone
extern DWORD Win32Platform;                        // the platform id the system reports
extern std::unique_ptr<TRegistry> SharedRegistry;  // the one accessor of the run

// Runs once before the update sequence; a repeated call does nothing until
// ReleaseProcessEnvironment has ended that life.
void InitProcessEnvironment();
void ReleaseProcessEnvironment();

bool IsRussianLocale(LCID locale);

// The process's pseudo-random generator (a 32-bit linear congruential one).
void SeedRandom(std::uint32_t seed);
std::uint32_t RandomSeed();
// A uniform draw from 0 to range - 1.
std::uint32_t RandomBelow(std::uint32_t range);
