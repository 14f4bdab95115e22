#include "install/self_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "install/file_replacement.h"
#include "install/pe_image.h"
#include "platform/owned_handle.h"
#include "platform/sha256.h"
#include "platform/win32.h"

namespace {

// The own executable, read where the walk asks. An I/O failure is told
// apart from a range outside the file: only the first means "unreadable".
// With a copy, the bytes of its range are written out as they are read, in
// order.
class OwnFile final : public PeImage::ByteSource {
public:
    OwnFile(HANDLE file, TResourceCopy* copy) : file_(file), copy_(copy) {
        LARGE_INTEGER size;
        if (GetFileSizeEx(file_, &size))
            size_ = std::uint64_t(size.QuadPart);
        else
            failed_ = true;
    }
    std::uint64_t Size() override { return size_; }
    // The walk's many small reads (the headers, the resource tree, the slot)
    // come from a block of the file kept in memory, read once for all of
    // those near each other; the hash's pieces are read as they are.
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override {
        if (offset > size_ || len > size_ - offset) return false;
        if (len <= BlockSize / 2) {
            if (offset < blockAt_ || offset + len > blockAt_ + blockLength_) {
                block_.resize(BlockSize);
                blockAt_ = offset - offset % 4096;
                blockLength_ = std::size_t(std::min<std::uint64_t>(BlockSize, size_ - blockAt_));
                if (!Read(blockAt_, block_.data(), blockLength_)) {
                    blockLength_ = 0;
                    return false;
                }
            }
            std::memcpy(out, block_.data() + (offset - blockAt_), len);
        } else if (!Read(offset, out, len)) {
            return false;
        }
        if (copy_) CopyOut(offset, static_cast<const unsigned char*>(out), len);
        return true;
    }
    bool Failed() const { return failed_; }

private:
    static constexpr std::size_t BlockSize = 0x10000;
    bool Read(std::uint64_t offset, void* out, std::size_t len) {
        LARGE_INTEGER position;
        position.QuadPart = LONGLONG(offset);
        auto* bytes = static_cast<unsigned char*>(out);
        if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return Fail();
        for (std::size_t left = len; left > 0;) {
            const DWORD want = left > 0x100000 ? 0x100000 : DWORD(left);
            DWORD got = 0;
            if (!ReadFile(file_, bytes, want, &got, nullptr) || got == 0) return Fail();
            bytes += got;
            left -= got;
        }
        return true;
    }
    bool Fail() {
        failed_ = true;
        return false;
    }
    // Writes what this read holds of the copy's range from where the copy
    // stands; a read before it or past it adds nothing.
    void CopyOut(std::uint64_t offset, const unsigned char* bytes, std::size_t len) {
        TResourceCopy& c = *copy_;
        const std::uint64_t next = c.offset + c.written, end = c.offset + c.size;
        if (!c.located || c.writeError || next >= end || next < offset || next >= offset + len) return;
        const auto n = DWORD(std::min<std::uint64_t>(end, offset + len) - next);
        DWORD put = 0;
        if (!WriteFile(c.out, bytes + (next - offset), n, &put, nullptr) || put != n)
            c.writeError = GetLastError() ? GetLastError() : DWORD(ERROR_WRITE_FAULT);
        else
            c.written += n;
    }
    HANDLE file_;
    TResourceCopy* copy_;
    std::vector<unsigned char> block_;
    std::uint64_t blockAt_ = 0;
    std::size_t blockLength_ = 0;
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

// Whether the file is the build this process runs: the seal it carries is
// the one the loaded image carries. Another sealed build can stand at the
// installer's path while it runs (anyone who may rename files in its folder
// can put one there), and its data is not this run's to install.
bool SameBuildAsImage(PeImage::ByteSource& file) {
    PeImage::SealLayout layout;
    PeImage::Digest stored{};
    TLockedResource loaded;
    return PeImage::LocateSeal(file, layout) && PeImage::ReadSealSlot(file, layout, stored) &&
           loaded.Lock(PeImage::SealResourceName, "#" + std::to_string(PeImage::SealResourceType)) &&
           loaded.Size() == stored.size() && std::memcmp(loaded.Data(), stored.data(), stored.size()) == 0;
}

}  // namespace

SelfCheckResult CheckOwnFile(TResourceCopy* copy) {
    // By its Unicode name: the ANSI one has "?" for every character the
    // code page cannot write (a Cyrillic user name on a Western system),
    // and no file has that name.
    WCHAR name[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH + 1);
    if (length == 0 || length >= MAX_PATH + 1) return SelfCheckResult::Unreadable;
    TOwnedFile file(
        CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return SelfCheckResult::Unreadable;
    OwnFile source(file.Get(), copy);
    if (copy) {
        std::uint32_t size = 0;
        copy->located = SameBuildAsImage(source) &&
                        PeImage::LocateResource(source, copy->type.c_str(), copy->name.c_str(), copy->offset, size) &&
                        size == copy->size;
    }
    CngDigest digest;
    PeImage::SealStatus status = PeImage::SealStatus::Unreadable;
    if (!source.Failed() && digest.Begin()) status = PeImage::CheckSeal(source, digest);
    if (source.Failed() || status == PeImage::SealStatus::Unreadable) return SelfCheckResult::Unreadable;
    return status == PeImage::SealStatus::Intact ? SelfCheckResult::Intact : SelfCheckResult::Distorted;
}
