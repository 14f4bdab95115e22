// The installer's check that its own file is as it was built.
#pragma once

enum class SelfCheckResult {
    Intact,
    Unreadable,  // the file (or the system's hash) could not be used
    Distorted,   // the file has been changed since it was sealed
};

SelfCheckResult CheckOwnFile();
