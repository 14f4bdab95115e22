// Starting a program as the user of the desktop, not elevated.
#pragma once

#include <string>

// Starts `program` in `folder`, shown normally, with no arguments, with
// the token of the desktop shell's process: the user's own, unelevated,
// with their profile and environment. Only when this process is elevated
// and the shell is not; false when that is not the case or anything on
// the way fails, and nothing has been started.
bool StartAsDesktopUser(const std::string& program, const std::string& folder);
