#include "install/install_guard.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "messages/support_log.h"
#include "platform/code_pages.h"
#include "platform/files.h"
#include "platform/system_library.h"
#include "runtime/text.h"

namespace {

// How long a run waits for another run of an installer of the application
// to finish before it gives up: installing the same data again is harmless,
// a run that never ends is not. It looks again after growing pauses.
constexpr DWORD GuardWaitMs = 60000;
constexpr DWORD FirstPauseMs = 50, LongestPauseMs = 1000;

// Only administrators may create or open the namespace and the mutex in
// it, and only a process whose token holds the Administrators group
// enabled is within its boundary: a standard user can neither take the
// guard first nor hold it.
constexpr wchar_t AdministratorsOnly[] = L"D:P(A;;GA;;;BA)";

std::string Waited(DWORD ms) { return "after " + std::to_string(ms) + " ms"; }

void NoteFailure(const std::string& what, DWORD error, DWORD waited) {
    SupportLog::Note("guard: " + what + ", " + Waited(waited) + ", " + SupportLog::ErrorText(error));
}

// The waiting common to both kinds of guard: `attempt` answers whether the
// guard is taken (true), busy (false), or cannot be taken (nullopt, with
// the error noted). `busy`: still busy when the wait ran out.
template <typename Attempt>
bool WaitFor(bool& busy, Attempt attempt) {
    DWORD waited = 0, pause = FirstPauseMs;
    for (;;) {
        const std::optional<bool> taken = attempt(waited);
        if (!taken) return false;
        if (*taken) {
            if (waited) SupportLog::Note("guard: another run was at work here, taken " + Waited(waited));
            return true;
        }
        if (waited >= GuardWaitMs) {
            NoteFailure("another run is still at work here", WAIT_TIMEOUT, waited);
            busy = true;
            return false;
        }
        Sleep(pause);
        waited += pause;
        pause = std::min(pause * 2, LongestPauseMs);
    }
}

struct NamespaceCalls {
    decltype(&CreateBoundaryDescriptorW) createBoundary;
    decltype(&AddSIDToBoundaryDescriptor) addSid;
    decltype(&DeleteBoundaryDescriptor) deleteBoundary;
    decltype(&CreatePrivateNamespaceW) create;
    decltype(&OpenPrivateNamespaceW) open;
    decltype(&ClosePrivateNamespace) close;
};

std::optional<NamespaceCalls> FindNamespaceCalls() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return std::nullopt;
    NamespaceCalls c{LookupFunction<decltype(&CreateBoundaryDescriptorW)>(kernel, "CreateBoundaryDescriptorW"),
                     LookupFunction<decltype(&AddSIDToBoundaryDescriptor)>(kernel, "AddSIDToBoundaryDescriptor"),
                     LookupFunction<decltype(&DeleteBoundaryDescriptor)>(kernel, "DeleteBoundaryDescriptor"),
                     LookupFunction<decltype(&CreatePrivateNamespaceW)>(kernel, "CreatePrivateNamespaceW"),
                     LookupFunction<decltype(&OpenPrivateNamespaceW)>(kernel, "OpenPrivateNamespaceW"),
                     LookupFunction<decltype(&ClosePrivateNamespace)>(kernel, "ClosePrivateNamespace")};
    if (!c.createBoundary || !c.addSid || !c.deleteBoundary || !c.create || !c.open || !c.close) return std::nullopt;
    return c;
}

// The boundary "Administrators", and the security of what is made in it,
// for as long as the namespace is being opened or created.
class TAdministratorsOnly {
public:
    explicit TAdministratorsOnly(const NamespaceCalls& calls) : calls_(calls) {}
    // The boundary goes first: the SID was added to it.
    ~TAdministratorsOnly() {
        if (boundary_) calls_.deleteBoundary(boundary_);
    }
    TAdministratorsOnly(const TAdministratorsOnly&) = delete;
    TAdministratorsOnly& operator=(const TAdministratorsOnly&) = delete;

    bool Make(const std::wstring& name) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                      admins_.Receive())) {
            admins_.Release();  // nothing was allocated
            return false;
        }
        boundary_ = calls_.createBoundary(name.c_str(), 0);
        if (!boundary_ || !calls_.addSid(&boundary_, admins_.Get())) return false;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(AdministratorsOnly, SDDL_REVISION_1,
                                                                  descriptor_.Receive(), nullptr)) {
            descriptor_.Release();
            return false;
        }
        attributes_ = {sizeof(SECURITY_ATTRIBUTES), descriptor_.Get(), FALSE};
        return true;
    }
    HANDLE Boundary() const { return boundary_; }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    const NamespaceCalls& calls_;
    TOwnedLocal descriptor_;
    TOwnedSid admins_;
    HANDLE boundary_ = nullptr;  // deleted by a call looked up at run time
    SECURITY_ATTRIBUTES attributes_{};
};

// The namespace exists while any run holds it. It is opened where another
// run made it, made where none did; two runs that both find none race to
// make it, and the one that loses opens what the other made.
HANDLE OpenOrCreateNamespace(const NamespaceCalls& calls, TAdministratorsOnly& security, const std::wstring& prefix) {
    for (int tries = 0; tries < 8; ++tries) {
        HANDLE opened = calls.open(security.Boundary(), prefix.c_str());
        if (opened || GetLastError() == ERROR_ACCESS_DENIED) return opened;
        HANDLE made = calls.create(security.Attributes(), security.Boundary(), prefix.c_str());
        if (made || GetLastError() != ERROR_ALREADY_EXISTS) return made;
    }
    return nullptr;
}

bool TakeMutex(HANDLE& space, TOwnedHandle& mutex, bool& owned, bool& busy, const std::string& folder,
               const std::string& appName, const NamespaceCalls& calls) {
    const std::wstring prefix = std::wstring(appName.begin(), appName.end()) + L"Update";
    const std::wstring name = InstallGuardName(folder);
    TAdministratorsOnly security(calls);
    if (name.empty() || !security.Make(prefix)) {
        NoteFailure("its boundary could not be made", GetLastError(), 0);
        return false;
    }
    space = OpenOrCreateNamespace(calls, security, prefix);
    if (!space) {
        NoteFailure("the private namespace could not be opened or created", GetLastError(), 0);
        return false;
    }
    mutex.Reset(CreateMutexW(security.Attributes(), FALSE, (prefix + L"\\" + name).c_str()));
    if (!mutex) {
        NoteFailure("its mutex could not be opened or created", GetLastError(), 0);
        return false;
    }
    owned = WaitFor(busy, [&](DWORD waited) -> std::optional<bool> {
        switch (WaitForSingleObject(mutex.Get(), 0)) {
            case WAIT_OBJECT_0:
                return true;
            case WAIT_ABANDONED:
                // Its holder ended without letting go (killed, say): what
                // it left half done, this run does again from the start.
                SupportLog::Note("guard: the run that held it ended without letting go");
                return true;
            case WAIT_TIMEOUT:
                return false;
            default:
                NoteFailure("its mutex could not be waited for", GetLastError(), waited);
                return std::nullopt;
        }
    });
    return owned;
}

// Held without sharing, the name is this run's alone; deleted on close,
// also when the process is killed, so nothing stays held. A link planted
// at the name is opened itself, never followed, and goes when it is
// closed. (A user who may read the folder can still open it for its
// attributes alone while a run holds it: where private namespaces exist,
// the mutex is used instead.)
TOwnedFile TakeLockFile(const std::string& folder, const std::string& appName, bool& busy) {
    const std::string path = folder + "~" + appName + "Update.lock";
    TOwnedFile guard;
    WaitFor(busy, [&](DWORD waited) -> std::optional<bool> {
        guard.Reset(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
        if (guard && IsSoleNamePlainFile(guard.Get())) return true;
        const DWORD error = guard ? DWORD(ERROR_ACCESS_DENIED) : GetLastError();
        guard.Reset();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION)
            return false;
        NoteFailure("the lock file could not be opened", error, waited);
        return std::nullopt;
    });
    return guard;
}

}  // namespace

TInstallGuard::TInstallGuard(TInstallGuard&& other) noexcept
    : namespace_(std::exchange(other.namespace_, nullptr)),
      closeNamespace_(other.closeNamespace_),
      mutex_(std::move(other.mutex_)),
      owned_(std::exchange(other.owned_, false)),
      file_(std::move(other.file_)),
      busy_(other.busy_) {}

TInstallGuard::~TInstallGuard() { Close(); }

void TInstallGuard::Close() {
    if (owned_) ReleaseMutex(mutex_.Get());
    owned_ = false;
    mutex_.Reset();
    if (namespace_) closeNamespace_(namespace_, 0);
    namespace_ = nullptr;
    file_.Reset();
}

std::wstring InstallGuardName(const std::string& folder) {
    const std::optional<std::wstring> wide = ToUnicode(folder, CP_ACP);
    if (!wide) return std::wstring();
    // Letter case folded as the file system folds it for the scripts of
    // the code pages in use (Latin-1 and Cyrillic), then hashed (FNV-1a):
    // names of any length fit, and two folders that share a name only
    // wait for each other.
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (wchar_t c : *wide) {
        if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x430 && c <= 0x44F))
            c = wchar_t(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F)
            c = wchar_t(c - 0x50);
        for (int shift = 0; shift < 16; shift += 8) {
            hash ^= (std::uint64_t(c) >> shift) & 0xFF;
            hash *= 0x100000001B3ULL;
        }
    }
    const std::string hex = HexUpper(unsigned(hash >> 32), 8) + HexUpper(unsigned(hash), 8);
    return L"folder-" + std::wstring(hex.begin(), hex.end());
}

TInstallGuard TakeInstallGuard(const std::string& folder, const std::string& appName) {
    TInstallGuard guard;
    if (const std::optional<NamespaceCalls> calls = FindNamespaceCalls()) {
        guard.closeNamespace_ = calls->close;
        if (!TakeMutex(guard.namespace_, guard.mutex_, guard.owned_, guard.busy_, folder, appName, *calls))
            guard.Close();
    } else {
        guard.file_ = TakeLockFile(folder, appName, guard.busy_);
    }
    return guard;
}
