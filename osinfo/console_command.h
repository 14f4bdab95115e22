// Running one console command hidden and reading back what it printed.
#pragma once

#include <string>

// How long a command may run before it is ended; what it printed by then
// is still read.
constexpr unsigned long ConsoleCommandTimeoutMs = 10000;

// Runs `command` through the system's own cmd.exe with its standard output
// redirected into a fresh file in the temporary folder, and returns the
// captured lines, each ended by "\r\n", converted from the OEM to the ANSI
// code page. Reports nothing: a command that did not run gives "\r\n", and
// when the interpreter cannot even be named the result is empty.
std::string RunConsoleCommand(const std::string& command);
