// Starting a program as the user of the desktop, not elevated.
#pragma once

#include <string>

// What starting a program as the desktop user came to.
enum class TDesktopStart {
    Started,     // with the desktop user's own token, or by the desktop shell itself
    AsThisUser,  // nothing to keep from it: this process is not elevated, the system has no
                 // elevation (Windows XP), or the shell runs elevated too; start it the plain way
    NotStarted,  // no way to the desktop user's unelevated token: nothing was started
};

// Starts `program` in `folder`, shown normally, with no arguments, as the
// user at the desktop, unelevated: with a copy of the desktop shell's token
// or, where that cannot be had (another user's shell, the secondary logon
// service disabled), by the shell itself through its automation objects.
TDesktopStart StartAsDesktopUser(const std::string& program, const std::string& folder);
