// lexomir_seal: writes the self-integrity digest into a linked installer.
//
//   lexomir_seal FILE           seal FILE in place, then check the result
//   lexomir_seal --verify FILE  only check FILE
//
// Sealing exits 0 on success and 2 on any failure. Checking exits 0 when
// the stored digest matches, 1 when it does not, 2 on a usage error or a
// file that cannot be read or holds no digest slot.
//
// Sealing must come after linking and before Authenticode signing; signing
// afterwards leaves the seal valid. Sealing also writes the header checksum
// of the finished file, which the seal leaves out as signing rewrites it:
// with a valid one, removing a signature gives back the sealed file byte
// for byte (osslsigncode remove-signature computes it the same way).
#include <openssl/evp.h>

#include <sys/types.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "install/pe_image.h"

namespace {

constexpr int ExitOk = 0;
constexpr int ExitMismatch = 1;
constexpr int ExitError = 2;

class FileSource final : public PeImage::ByteSource {
public:
    explicit FileSource(std::FILE* f) : f_(f) {
        if (fseeko(f_, 0, SEEK_END) == 0) {
            const off_t end = ftello(f_);
            if (end >= 0)
                size_ = static_cast<std::uint64_t>(end);
            else
                failed_ = true;
        } else {
            failed_ = true;
        }
    }
    std::uint64_t Size() override { return size_; }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override {
        if (offset > size_ || len > size_ - offset) return false;
        if (fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(out, 1, len, f_) != len) {
            failed_ = true;
            return false;
        }
        return true;
    }
    bool failed() const { return failed_; }

private:
    std::FILE* f_;
    std::uint64_t size_ = 0;
    bool failed_ = false;
};

class Sha256 final : public PeImage::DigestSink {
public:
    Sha256() : ctx_(EVP_MD_CTX_new()) { ok_ = ctx_ != nullptr && EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) == 1; }
    ~Sha256() override { EVP_MD_CTX_free(ctx_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Update(const void* data, std::size_t len) override {
        ok_ = ok_ && EVP_DigestUpdate(ctx_, data, len) == 1;
        return ok_;
    }
    bool Finish(PeImage::Digest& out) override {
        unsigned int len = 0;
        ok_ = ok_ && EVP_DigestFinal_ex(ctx_, out.data(), &len) == 1 && len == out.size();
        return ok_;
    }

private:
    EVP_MD_CTX* ctx_;
    bool ok_ = false;
};

std::string Hex(const PeImage::Digest& d) {
    static const char Digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t b : d) {
        s += Digits[b >> 4];
        s += Digits[b & 15];
    }
    return s;
}

// The PE header checksum, as Windows (CheckSumMappedFile) and signing
// tools compute it: the file's 16-bit little-endian words added with
// end-around carry, the checksum field counted as 0, plus the file's length.
bool ComputeChecksum(FileSource& file, std::uint64_t fieldOffset, std::uint32_t& out) {
    std::vector<std::uint8_t> buffer(PeImage::HashChunkSize);  // even: no word straddles two reads
    std::uint32_t sum = 0;
    for (std::uint64_t at = 0; at < file.Size();) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file.Size() - at));
        if (!file.ReadAt(at, buffer.data(), n)) return false;
        for (std::size_t i = 0; i < n; i += 2) {
            const std::uint64_t offset = at + i;
            if (offset >= fieldOffset && offset < fieldOffset + PeImage::ChecksumSize) continue;
            sum += buffer[i] | (i + 1 < n ? buffer[i + 1] << 8 : 0);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        at += n;
    }
    out = sum + static_cast<std::uint32_t>(file.Size());
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: lexomir_seal FILE\n"
                 "       lexomir_seal --verify FILE\n");
    return ExitError;
}

// Reports why LocateSeal failed.
int NoSlot(const char* path, const FileSource& src) {
    if (src.failed()) {
        std::fprintf(stderr, "lexomir_seal: %s: read error: %s\n", path, std::strerror(errno));
    } else {
        std::fprintf(stderr, "lexomir_seal: %s: not a well-formed PE image with a %zu-byte RCDATA resource %s\n", path,
                     PeImage::DigestSize, PeImage::SealResourceName);
    }
    return ExitError;
}

int Verify(const char* path) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "lexomir_seal: cannot open %s: %s\n", path, std::strerror(errno));
        return ExitError;
    }
    FileSource src(f);
    PeImage::SealLayout layout;
    PeImage::Digest stored{};
    PeImage::Digest actual{};
    Sha256 hash;
    int rc = ExitOk;
    if (!PeImage::LocateSeal(src, layout)) {
        rc = NoSlot(path, src);
    } else if (!PeImage::ReadSealSlot(src, layout, stored) || !PeImage::ComputeSealDigest(src, layout, hash, actual)) {
        std::fprintf(stderr, "lexomir_seal: %s: cannot compute the digest\n", path);
        rc = ExitError;
    } else if (stored != actual) {
        if (stored == PeImage::Digest{}) {
            std::fprintf(stderr, "lexomir_seal: %s: has not been sealed\n", path);
        } else {
            std::fprintf(stderr, "lexomir_seal: %s: changed after sealing (stored %s, actual %s)\n", path,
                         Hex(stored).c_str(), Hex(actual).c_str());
        }
        rc = ExitMismatch;
    } else {
        std::printf("%s: seal intact, SHA-256 %s\n", path, Hex(actual).c_str());
    }
    std::fclose(f);
    return rc;
}

int SealOpenFile(const char* path, std::FILE* f) {
    PeImage::SealLayout layout;
    {
        FileSource src(f);
        if (!PeImage::LocateSeal(src, layout)) return NoSlot(path, src);
    }
    if (layout.certSize != 0) {
        std::fprintf(stderr,
                     "lexomir_seal: warning: %s is already signed; sealing breaks that signature, "
                     "sign again afterwards\n",
                     path);
    } else if (const unsigned pad = static_cast<unsigned>((8 - layout.fileSize % 8) % 8); pad != 0) {
        // Signing pads the file to a multiple of 8 bytes before it appends the
        // certificate table, and that padding would count in the digest. Pad
        // now so that signing adds nothing but the table.
        static const char Zeros[8] = {};
        if (fseeko(f, 0, SEEK_END) != 0 || std::fwrite(Zeros, 1, pad, f) != pad || std::fflush(f) != 0) {
            std::fprintf(stderr, "lexomir_seal: %s: cannot pad the file: %s\n", path, std::strerror(errno));
            return ExitError;
        }
        FileSource src(f);
        if (!PeImage::LocateSeal(src, layout)) return NoSlot(path, src);
    }

    FileSource src(f);
    Sha256 hash;
    PeImage::Digest digest{};
    if (!PeImage::ComputeSealDigest(src, layout, hash, digest)) {
        std::fprintf(stderr, "lexomir_seal: %s: cannot compute the digest\n", path);
        return ExitError;
    }
    if (fseeko(f, static_cast<off_t>(layout.slotOffset), SEEK_SET) != 0 ||
        std::fwrite(digest.data(), 1, digest.size(), f) != digest.size() || std::fflush(f) != 0) {
        std::fprintf(stderr, "lexomir_seal: %s: cannot write the digest: %s\n", path, std::strerror(errno));
        return ExitError;
    }

    std::uint32_t checksum = 0;
    std::uint8_t field[PeImage::ChecksumSize];
    FileSource whole(f);
    if (!ComputeChecksum(whole, layout.checksumOffset, checksum)) {
        std::fprintf(stderr, "lexomir_seal: %s: cannot read the file for its checksum\n", path);
        return ExitError;
    }
    for (std::size_t i = 0; i < sizeof field; ++i) field[i] = static_cast<std::uint8_t>(checksum >> (8 * i));
    if (fseeko(f, static_cast<off_t>(layout.checksumOffset), SEEK_SET) != 0 ||
        std::fwrite(field, 1, sizeof field, f) != sizeof field || std::fflush(f) != 0) {
        std::fprintf(stderr, "lexomir_seal: %s: cannot write the checksum: %s\n", path, std::strerror(errno));
        return ExitError;
    }

    FileSource check(f);
    Sha256 recheck;
    if (PeImage::CheckSeal(check, recheck) != PeImage::SealStatus::Intact) {
        std::fprintf(stderr, "lexomir_seal: %s: the digest written does not verify\n", path);
        return ExitError;
    }
    std::printf("%s: sealed, slot at file offset 0x%llx, SHA-256 %s, checksum 0x%08x\n", path,
                static_cast<unsigned long long>(layout.slotOffset), Hex(digest).c_str(), checksum);
    return ExitOk;
}

int Seal(const char* path) {
    std::FILE* f = std::fopen(path, "r+b");
    if (f == nullptr) {
        std::fprintf(stderr, "lexomir_seal: cannot open %s for writing: %s\n", path, std::strerror(errno));
        return ExitError;
    }
    int rc = SealOpenFile(path, f);
    if (std::fclose(f) != 0 && rc == ExitOk) {
        std::fprintf(stderr, "lexomir_seal: %s: %s\n", path, std::strerror(errno));
        rc = ExitError;
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return Seal(argv[1]);
    if (argc == 3 && std::string_view(argv[1]) == "--verify") return Verify(argv[2]);
    return Usage();
}
