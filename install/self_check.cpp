#include "install/self_check.h"

#include <string>

#include "install/pe_image.h"
#include "platform/owned_handle.h"
#include "platform/sha256.h"
#include "platform/win32.h"

namespace {

// The own executable, read where the walk asks. An I/O failure is told
// apart from a range outside the file: only the first means "unreadable".
class OwnFile final : public PeImage::ByteSource {
public:
    explicit OwnFile(HANDLE file) : file_(file) {
        LARGE_INTEGER size;
        if (GetFileSizeEx(file_, &size))
            size_ = std::uint64_t(size.QuadPart);
        else
            failed_ = true;
    }
    std::uint64_t Size() override { return size_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override {
        if (offset > size_ || len > size_ - offset) return false;
        LARGE_INTEGER position;
        position.QuadPart = LONGLONG(offset);
        auto* bytes = static_cast<unsigned char*>(out);
        if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return Fail();
        while (len > 0) {
            const DWORD want = len > 0x100000 ? 0x100000 : DWORD(len);
            DWORD got = 0;
            if (!ReadFile(file_, bytes, want, &got, nullptr) || got == 0) return Fail();
            bytes += got;
            len -= got;
        }
        return true;
    }
    bool Failed() const { return failed_; }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }
    HANDLE file_;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

class CngDigest final : public PeImage::DigestSink {
public:
    bool Begin() { return hash_.Begin(); }
    bool Update(const void* data, std::size_t len) override { return hash_.Update(data, len); }
    bool Finish(PeImage::Digest& out) override { return hash_.Finish(out.data()); }

private:
    Sha256 hash_;
};

}  // namespace

SelfCheckResult CheckOwnFile() {
    // By its Unicode name: the ANSI one has "?" for every character the
    // code page cannot write (a Cyrillic user name on a Western system),
    // and no file has that name.
    WCHAR name[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH + 1);
    if (length == 0 || length >= MAX_PATH + 1) return SelfCheckResult::Unreadable;
    TOwnedFile file(
        CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return SelfCheckResult::Unreadable;
    OwnFile source(file.Get());
    CngDigest digest;
    PeImage::SealStatus status = PeImage::SealStatus::Unreadable;
    if (!source.Failed() && digest.Begin()) status = PeImage::CheckSeal(source, digest);
    if (source.Failed() || status == PeImage::SealStatus::Unreadable) return SelfCheckResult::Unreadable;
    return status == PeImage::SealStatus::Intact ? SelfCheckResult::Intact : SelfCheckResult::Distorted;
}
