#include "install/pe_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace pe {

ByteSource::~ByteSource() = default;
HashSink::~HashSink() = default;

bool MemorySource::ReadAt(std::uint64_t offset, void* out, std::size_t len) {
    if (offset > bytes_.size() || len > bytes_.size() - offset) return false;
    if (len != 0) std::memcpy(out, bytes_.data() + offset, len);
    return true;
}

namespace {

// Limits well above anything a linker produces for this program; they keep
// a hostile file from making the walk long.
constexpr std::uint16_t kMaxSections = 96;
constexpr std::uint32_t kMaxDirectoryEntries = 4096;

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kDosHeaderSize = 0x40;
constexpr std::uint32_t kCoffHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint32_t kDirResource = 2;
constexpr std::uint32_t kDirSecurity = 4;
constexpr std::uint32_t kMaxDataDirectories = 16;
constexpr std::uint32_t kResourceDirHeaderSize = 16;
constexpr std::uint32_t kResourceEntrySize = 8;
constexpr std::uint32_t kHighBit = 0x80000000u;

// Reads little-endian fields, refusing anything outside the file before the
// source is asked for it.
class Reader {
public:
    explicit Reader(ByteSource& src) : src_(src), size_(src.Size()) {}

    std::uint64_t size() const { return size_; }

    bool InRange(std::uint64_t off, std::uint64_t len) const { return off <= size_ && len <= size_ - off; }

    bool Bytes(std::uint64_t off, void* out, std::size_t len) {
        return InRange(off, len) && src_.ReadAt(off, out, len);
    }

    bool U16(std::uint64_t off, std::uint16_t& v) {
        std::uint8_t b[2];
        if (!Bytes(off, b, sizeof b)) return false;
        v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }

    bool U32(std::uint64_t off, std::uint32_t& v) {
        std::uint8_t b[4];
        if (!Bytes(off, b, sizeof b)) return false;
        v = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        return true;
    }

private:
    ByteSource& src_;
    std::uint64_t size_;
};

struct Section {
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_size = 0;
    std::uint32_t raw_offset = 0;
};

struct Image {
    std::uint64_t checksum_offset = 0;
    std::uint64_t security_dir_offset = 0;
    std::uint64_t headers_end = 0;   // end of the section table
    std::uint64_t raw_data_end = 0;  // end of the last section's file data
    std::uint32_t resource_rva = 0;
    std::uint32_t cert_offset = 0;
    std::uint32_t cert_size = 0;
    std::uint16_t section_count = 0;
    std::array<Section, kMaxSections> sections{};
};

bool ReadHeaders(Reader& r, Image& img) {
    std::uint16_t dos_magic = 0;
    std::uint32_t pe_offset = 0;
    if (!r.U16(0, dos_magic) || dos_magic != kDosMagic) return false;
    if (!r.U32(0x3C, pe_offset) || pe_offset < kDosHeaderSize) return false;

    std::uint32_t signature = 0;
    if (!r.U32(pe_offset, signature) || signature != kPeSignature) return false;

    const std::uint64_t coff = std::uint64_t{pe_offset} + 4;
    std::uint16_t section_count = 0;
    std::uint16_t optional_size = 0;
    if (!r.U16(coff + 2, section_count) || !r.U16(coff + 16, optional_size)) return false;
    if (section_count == 0 || section_count > kMaxSections) return false;

    const std::uint64_t opt = coff + kCoffHeaderSize;
    if (!r.InRange(opt, optional_size)) return false;
    std::uint16_t magic = 0;
    if (!r.U16(opt, magic)) return false;
    std::uint32_t dir_count_at = 0;
    std::uint32_t dirs_at = 0;
    if (magic == kMagicPe32) {
        dir_count_at = 92;
        dirs_at = 96;
    } else if (magic == kMagicPe32Plus) {
        dir_count_at = 108;
        dirs_at = 112;
    } else {
        return false;
    }
    if (optional_size < dirs_at) return false;
    std::uint32_t dir_count = 0;
    if (!r.U32(opt + dir_count_at, dir_count)) return false;
    // A directory too short to hold the certificate entry would leave signing
    // nowhere to record the table.
    if (dir_count <= kDirSecurity || dir_count > kMaxDataDirectories) return false;
    if (optional_size < dirs_at + dir_count * 8u) return false;

    img.checksum_offset = opt + 64;
    const std::uint64_t dirs = opt + dirs_at;
    std::uint32_t resource_size = 0;
    img.security_dir_offset = dirs + kDirSecurity * 8;
    if (!r.U32(dirs + kDirResource * 8, img.resource_rva) || !r.U32(dirs + kDirResource * 8 + 4, resource_size) ||
        !r.U32(img.security_dir_offset, img.cert_offset) || !r.U32(img.security_dir_offset + 4, img.cert_size)) {
        return false;
    }
    if (img.resource_rva == 0 || resource_size == 0) return false;

    const std::uint64_t table = opt + optional_size;
    if (!r.InRange(table, std::uint64_t{section_count} * kSectionHeaderSize)) return false;
    img.section_count = section_count;
    img.headers_end = table + std::uint64_t{section_count} * kSectionHeaderSize;
    img.raw_data_end = img.headers_end;
    for (std::uint16_t i = 0; i < section_count; ++i) {
        const std::uint64_t at = table + std::uint64_t{i} * kSectionHeaderSize;
        Section& s = img.sections[i];
        if (!r.U32(at + 8, s.virtual_size) || !r.U32(at + 12, s.virtual_address) || !r.U32(at + 16, s.raw_size) ||
            !r.U32(at + 20, s.raw_offset)) {
            return false;
        }
        // A section whose data runs past the end of the file means the file
        // has been cut short.
        if (s.raw_size != 0) {
            if (!r.InRange(s.raw_offset, s.raw_size)) return false;
            img.raw_data_end = std::max(img.raw_data_end, std::uint64_t{s.raw_offset} + s.raw_size);
        }
    }

    // Signing appends the table after everything else; a table anywhere else
    // would let a changed part of the image escape the digest.
    if (img.cert_size != 0) {
        if (img.cert_offset < img.raw_data_end) return false;
        if (std::uint64_t{img.cert_offset} + img.cert_size != r.size()) return false;
    } else {
        img.cert_offset = 0;
    }
    return true;
}

// File offset of [rva, rva + len), which must lie in the file-backed part
// of one section.
bool RvaToOffset(const Image& img, std::uint64_t rva, std::uint64_t len, std::uint64_t& off) {
    for (std::uint16_t i = 0; i < img.section_count; ++i) {
        const Section& s = img.sections[i];
        std::uint64_t backed = s.raw_size;
        if (s.virtual_size != 0 && s.virtual_size < backed) backed = s.virtual_size;
        if (rva < s.virtual_address) continue;
        const std::uint64_t delta = rva - s.virtual_address;
        if (delta >= backed || len > backed - delta) continue;
        off = std::uint64_t{s.raw_offset} + delta;
        return true;
    }
    return false;
}

// One table of the resource tree, located in the file.
struct ResourceDir {
    std::uint64_t entries_offset = 0;
    std::uint32_t count = 0;
};

struct ResourceEntry {
    std::uint32_t name = 0;    // high bit: offset of a name string, else an ID
    std::uint32_t target = 0;  // high bit: offset of a subdirectory, else of a data entry
};

class ResourceTree {
public:
    ResourceTree(Reader& r, const Image& img) : r_(r), img_(img) {}

    // Offsets inside the tree are relative to its root.
    bool Locate(std::uint32_t tree_offset, std::uint64_t len, std::uint64_t& off) {
        return RvaToOffset(img_, std::uint64_t{img_.resource_rva} + tree_offset, len, off);
    }

    bool OpenDir(std::uint32_t tree_offset, ResourceDir& dir) {
        std::uint64_t off = 0;
        std::uint16_t named = 0;
        std::uint16_t ids = 0;
        if (!Locate(tree_offset, kResourceDirHeaderSize, off) || !r_.U16(off + 12, named) || !r_.U16(off + 14, ids)) {
            return false;
        }
        dir.count = std::uint32_t{named} + ids;
        if (dir.count > kMaxDirectoryEntries) return false;
        // The entries must follow the header inside the same section.
        std::uint64_t whole = 0;
        if (!Locate(tree_offset, kResourceDirHeaderSize + std::uint64_t{dir.count} * kResourceEntrySize, whole) ||
            whole != off) {
            return false;
        }
        dir.entries_offset = off + kResourceDirHeaderSize;
        return true;
    }

    bool Entry(const ResourceDir& dir, std::uint32_t i, ResourceEntry& e) {
        const std::uint64_t at = dir.entries_offset + std::uint64_t{i} * kResourceEntrySize;
        return r_.U32(at, e.name) && r_.U32(at + 4, e.target);
    }

    // Compares a counted UTF-16 name with an ASCII upper-case one, ignoring
    // the case of ASCII letters.
    bool NameEquals(std::uint32_t tree_offset, const char* want, bool& equal) {
        equal = false;
        const std::size_t want_len = std::strlen(want);
        std::uint64_t off = 0;
        std::uint16_t len = 0;
        if (!Locate(tree_offset, 2, off) || !r_.U16(off, len)) return false;
        if (len != want_len) return true;
        std::uint64_t chars = 0;
        if (!Locate(tree_offset, 2 + std::uint64_t{len} * 2, chars)) return false;
        for (std::size_t i = 0; i < want_len; ++i) {
            std::uint16_t c = 0;
            if (!r_.U16(chars + 2 + i * 2, c)) return false;
            if (c >= 'a' && c <= 'z') c = static_cast<std::uint16_t>(c - 'a' + 'A');
            if (c != static_cast<unsigned char>(want[i])) return true;
        }
        equal = true;
        return true;
    }

private:
    Reader& r_;
    const Image& img_;
};

// Type -> name -> first language -> data entry. The walk has a fixed depth
// and each level must be of the expected kind, so entries that point back
// up the tree cannot make it loop.
bool FindSlot(Reader& r, const Image& img, std::uint32_t& slot_rva, std::uint32_t& slot_size) {
    ResourceTree tree(r, img);
    ResourceDir dir;
    ResourceEntry e;
    if (!tree.OpenDir(0, dir)) return false;

    bool found = false;
    for (std::uint32_t i = 0; i < dir.count && !found; ++i) {
        if (!tree.Entry(dir, i, e)) return false;
        found = e.name == kSealResourceType;
    }
    if (!found || (e.target & kHighBit) == 0) return false;
    if (!tree.OpenDir(e.target & ~kHighBit, dir)) return false;

    found = false;
    for (std::uint32_t i = 0; i < dir.count && !found; ++i) {
        if (!tree.Entry(dir, i, e)) return false;
        if ((e.name & kHighBit) == 0) continue;
        if (!tree.NameEquals(e.name & ~kHighBit, kSealResourceName, found)) return false;
    }
    if (!found || (e.target & kHighBit) == 0) return false;
    if (!tree.OpenDir(e.target & ~kHighBit, dir)) return false;

    if (dir.count == 0 || !tree.Entry(dir, 0, e)) return false;
    if ((e.target & kHighBit) != 0) return false;  // a language must hold data
    std::uint64_t data_entry = 0;
    return tree.Locate(e.target, 16, data_entry) && r.U32(data_entry, slot_rva) && r.U32(data_entry + 4, slot_size);
}

bool Overlaps(std::uint64_t a, std::uint64_t a_len, std::uint64_t b, std::uint64_t b_len) {
    return a_len != 0 && b_len != 0 && a < b + b_len && b < a + a_len;
}

// Lets CheckSeal tell a read that failed from a file that is malformed:
// LocateSeal never asks for bytes outside the file, so any refusal is an
// I/O failure.
class FailureTrackingSource final : public ByteSource {
public:
    explicit FailureTrackingSource(ByteSource& inner) : inner_(inner) {}
    std::uint64_t Size() override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override {
        const bool ok = inner_.ReadAt(offset, out, len);
        failed_ = failed_ || !ok;
        return ok;
    }
    bool failed() const { return failed_; }

private:
    ByteSource& inner_;
    bool failed_ = false;
};

}  // namespace

bool LocateSeal(ByteSource& file, SealLayout& layout) {
    Reader r(file);
    Image img;
    if (!ReadHeaders(r, img)) return false;

    std::uint32_t slot_rva = 0;
    std::uint32_t slot_size = 0;
    if (!FindSlot(r, img, slot_rva, slot_size) || slot_size != kDigestSize) return false;
    std::uint64_t slot_offset = 0;
    if (!RvaToOffset(img, slot_rva, slot_size, slot_offset)) return false;

    if (Overlaps(slot_offset, slot_size, img.checksum_offset, kChecksumSize) ||
        Overlaps(slot_offset, slot_size, img.security_dir_offset, kSecurityDirSize) ||
        Overlaps(slot_offset, slot_size, img.cert_offset, img.cert_size)) {
        return false;
    }

    layout.file_size = r.size();
    layout.checksum_offset = img.checksum_offset;
    layout.security_dir_offset = img.security_dir_offset;
    layout.cert_offset = img.cert_offset;
    layout.cert_size = img.cert_size;
    layout.slot_offset = slot_offset;
    layout.slot_size = slot_size;
    return true;
}

bool HashSealed(ByteSource& file, const SealLayout& layout, HashSink& sink) {
    const std::uint64_t size = file.Size();
    if (size != layout.file_size) return false;

    struct Range {
        std::uint64_t offset, length;
    };
    std::array<Range, 4> skip{{
        {layout.checksum_offset, kChecksumSize},
        {layout.security_dir_offset, kSecurityDirSize},
        {layout.cert_offset, layout.cert_size},
        {layout.slot_offset, layout.slot_size},
    }};
    for (const Range& s : skip) {
        if (s.offset > size || s.length > size - s.offset) return false;
    }
    std::sort(skip.begin(), skip.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kHashChunkSize)));
    auto feed = [&](std::uint64_t from, std::uint64_t to) {
        while (from < to) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, buffer.size()));
            if (!file.ReadAt(from, buffer.data(), n) || !sink.Update(buffer.data(), n)) return false;
            from += n;
        }
        return true;
    };

    std::uint64_t pos = 0;
    for (const Range& s : skip) {
        if (s.offset > pos && !feed(pos, s.offset)) return false;
        pos = std::max(pos, s.offset + s.length);
    }
    return feed(pos, size);
}

bool ComputeSealDigest(ByteSource& file, const SealLayout& layout, DigestSink& hash, Digest& out) {
    return HashSealed(file, layout, hash) && hash.Finish(out);
}

bool ReadSealSlot(ByteSource& file, const SealLayout& layout, Digest& out) {
    return layout.slot_size == kDigestSize && file.ReadAt(layout.slot_offset, out.data(), out.size());
}

SealStatus CheckSeal(ByteSource& file, DigestSink& hash) {
    FailureTrackingSource tracked(file);
    SealLayout layout;
    if (!LocateSeal(tracked, layout)) {
        return tracked.failed() ? SealStatus::kUnreadable : SealStatus::kMalformed;
    }
    Digest stored{};
    Digest actual{};
    if (!ReadSealSlot(file, layout, stored) || !ComputeSealDigest(file, layout, hash, actual)) {
        return SealStatus::kUnreadable;
    }
    return stored == actual ? SealStatus::kIntact : SealStatus::kMismatch;
}

}  // namespace pe
