// The program entry: start-up, the update sequence, and the exit code.
#pragma once

// Returns the process exit code.
int RunInstaller();
