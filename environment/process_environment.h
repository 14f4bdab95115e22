// The start-up of the run: fixes the process-wide facts (shared/process_values.h)
// once, before the update sequence, and releases them at exit.
#pragma once

#include "platform/win32.h"
#include "shared/process_values.h"

// Runs once before the update sequence; a repeated call does nothing until
// ReleaseProcessEnvironment has ended that life.
void InitProcessEnvironment();
void ReleaseProcessEnvironment();

bool IsRussianLocale(LCID locale);
