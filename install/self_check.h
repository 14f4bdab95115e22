// The installer's check that its own file is as it was built.
#pragma once

#include <memory>

#include "platform/owned_handle.h"
#include "platform/win32.h"

enum class SelfCheckResult {
    Intact,
    Unreadable,  // the file (or the system's hash) could not be used
    Distorted,   // the file has been changed since it was sealed
};

SelfCheckResult CheckOwnFile();

// The same check, made on a thread of its own while the caller goes on (a
// quiet run writes its data file meanwhile). Result() waits for it; where
// no thread can be had it is made there and then, on the caller's.
class TSelfCheckInBackground {
public:
    TSelfCheckInBackground();
    TSelfCheckInBackground(const TSelfCheckInBackground&) = delete;
    TSelfCheckInBackground& operator=(const TSelfCheckInBackground&) = delete;
    // The verdict; for an unreadable file the system's error is the
    // caller's last error when it returns. A wait that fails counts as an
    // unreadable file: the thread is left to finish with its own share.
    SelfCheckResult Result();

private:
    struct TJob;
    static DWORD WINAPI Run(LPVOID job);
    std::shared_ptr<TJob> job_;
    TOwnedHandle thread_;
};
