// The steps by which an installed file is replaced with a resource of the
// installer's own module. They are the data file's write, defined with it
// in embedded_file.cpp; the version-compared replacement
// (version_replacement.cpp) takes them too.
#pragma once

#include <optional>
#include <string>

#include "install/embedded_file.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/win32.h"

// The resource's bytes where the loader put them with the image: the file
// is written straight from there, with no copy, and the resource is let go
// as soon as that write is done.
class TLockedResource {
public:
    TLockedResource() = default;
    TLockedResource(const TLockedResource&) = delete;
    TLockedResource& operator=(const TLockedResource&) = delete;
    ~TLockedResource() { Release(); }

    bool Lock(const std::string& name, const std::string& type) {
        HRSRC resource = FindResourceA(nullptr, name.c_str(), type.c_str());
        if (!resource) return false;
        loaded_ = LoadResource(nullptr, resource);
        if (!loaded_) return false;
        data_ = LockResource(loaded_);
        // 0 is both an empty resource and a failure; only the error tells.
        SetLastError(ERROR_SUCCESS);
        size_ = SizeofResource(nullptr, resource);
        return data_ != nullptr && (size_ != 0 || GetLastError() == ERROR_SUCCESS);
    }
    const void* Data() const { return data_; }
    DWORD Size() const { return size_; }
    void Release() {
        if (loaded_) FreeResource(loaded_);
        loaded_ = nullptr;
        data_ = nullptr;
    }

private:
    HGLOBAL loaded_ = nullptr;
    const void* data_ = nullptr;
    DWORD size_ = 0;
};

// The temporary file of this run: whether it made one, which file that is,
// and the handle it is held by. The rename into place and the removal after
// a failure act on this file through that handle, whatever its name has
// come to stand for meanwhile.
struct Temporary {
    std::string path;
    bool created = false;
    std::optional<TFileIdentity> identity;
    TOwnedFile file;
};

// Writes the whole buffer with one write to a file made fresh at the
// temporary name, cleared first, and makes it durable before it is renamed
// into place; the file stays held. The resource is let go before the
// flush unless `sha256` is given: the caller may then need it again (and
// lets it go), and the hash of the data goes there where it holds none
// yet (the build's record, where there is one, stands).
bool WriteNewFile(Temporary& temp, TLockedResource& resource, std::string* sha256 = nullptr,
                  const TWriteData* writeData = nullptr);

// Moves the temporary file over the installed one through the handle it
// is held by: only the file this run wrote and flushed is ever put in
// place, never another run's or one half written, whatever stands at its
// name. A read-only installed file (files copied from a CD carry the
// attribute) would refuse it: the attribute is cleared first, and put back
// when the move fails, so the old file stays as it was. The new file has
// its own attributes. A temporary file that was let go (for the version
// probes) is held again first, if its name still stands for it.
bool MoveIntoPlace(Temporary& temp, const std::string& target);

// Removes the temporary file this run made, after a failure or a No,
// waiting briefly for a scanner that holds it: marked for deletion through
// its handle, it goes when the handle is closed. What stays is cleared by
// the next run. Nothing is done when this run made no file there, or when
// its name no longer stands for it.
void DiscardTemporary(Temporary& temp);

// The installed file is replaced in one step, so a failure at any point
// leaves it as it was: never truncated, never half written. With `data`, a
// file held open by another program is staged for the next restart, and
// files staged by earlier runs are removed only once this run's data is in
// place or staged: until then they hold the newest data installed.
// `mayPlace` and `writeData`, where given, as InstallDataFile takes them.
bool ReplaceInstalledFile(const std::string& target, TLockedResource& resource, TInstalledData* data = nullptr,
                          const TMayPlace* mayPlace = nullptr, const TWriteData* writeData = nullptr);
