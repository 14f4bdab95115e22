// One run at a time for an installation.
#pragma once

#include <string>

#include "platform/owned_handle.h"
#include "platform/win32.h"

// What keeps other runs for the same installation waiting while this one
// works: held from TakeInstallGuard to the end of the run.
class TInstallGuard {
public:
    TInstallGuard() = default;
    TInstallGuard(TInstallGuard&& other) noexcept;
    TInstallGuard& operator=(TInstallGuard&&) = delete;
    TInstallGuard(const TInstallGuard&) = delete;
    ~TInstallGuard();
    explicit operator bool() const { return owned_ || file_; }
    // Not taken because another run still held it when the wait ran out.
    bool OtherRunAtWork() const { return busy_; }

private:
    friend TInstallGuard TakeInstallGuard(const std::string& folder, const std::string& appName);
    void Close();

    // Where Windows has private namespaces (Vista and later): the namespace
    // this run opened or created, the mutex in it, and whether it owns it.
    HANDLE namespace_ = nullptr;
    decltype(&ClosePrivateNamespace) closeNamespace_ = nullptr;
    TOwnedHandle mutex_;
    bool owned_ = false;
    // Elsewhere (Windows XP, Wine): a lock file in the folder.
    TOwnedFile file_;
    bool busy_ = false;
};

// Waits, for about a minute, until no other run of an installer of the
// application `appName` is working in `folder` (the application's folder),
// and takes the guard. The guard is a mutex that only administrators can
// create or open; where the system has no private namespaces, a lock file
// that only an administrator can create there. Empty when the wait ran out
// or the guard could not be taken at all; the support log says which, with
// the system's error and the time waited.
TInstallGuard TakeInstallGuard(const std::string& folder, const std::string& appName);

// The name of the guard's mutex for an installation in `folder`: the same
// for every spelling of the folder that differs only in letter case.
std::wstring InstallGuardName(const std::string& folder);
