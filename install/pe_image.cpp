#include "install/pe_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/little_endian.h"

namespace PeImage {

ByteSource::~ByteSource() = default;
HashSink::~HashSink() = default;

bool MemorySource::ReadAt(std::uint64_t offset, void* out, std::size_t len) {
    if (offset > bytes_.size() || len > bytes_.size() - offset) return false;
    if (len != 0) std::memcpy(out, bytes_.data() + offset, len);
    return true;
}

bool Reader::Bytes(std::uint64_t offset, void* out, std::size_t len) {
    return InRange(offset, len) && source_.ReadAt(offset, out, len);
}

bool Reader::U16(std::uint64_t offset, std::uint16_t& value) {
    unsigned char b[2];
    if (!Bytes(offset, b, sizeof b)) return false;
    value = ReadLittleEndian16(b);
    return true;
}

bool Reader::U32(std::uint64_t offset, std::uint32_t& value) {
    unsigned char b[4];
    if (!Bytes(offset, b, sizeof b)) return false;
    value = ReadLittleEndian32(b);
    return true;
}

namespace {

constexpr std::uint32_t MaxDirectoryEntries = 4096;

constexpr std::uint16_t DosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t PeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t MagicPe32 = 0x10B;
constexpr std::uint16_t MagicPe32Plus = 0x20B;
constexpr std::uint32_t DosHeaderSize = 0x40;
constexpr std::uint32_t CoffHeaderSize = 20;
constexpr std::uint32_t SectionHeaderSize = 40;
constexpr std::uint32_t DirectoryEntrySize = 8;
constexpr std::uint32_t ChecksumField = 64;
constexpr std::uint32_t ResourceDirHeaderSize = 16;
constexpr std::uint32_t ResourceEntrySize = 8;
constexpr std::uint32_t HighBit = 0x80000000u;

}  // namespace

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::None:
            return "a well-formed image";
        case Refusal::NoDosHeader:
            return "not an executable image (no MZ header)";
        case Refusal::NoPeSignature:
            return "not a PE image (no PE signature)";
        case Refusal::CoffHeaderCut:
            return "the COFF header runs past the end of the file";
        case Refusal::NoSections:
            return "the image has no sections";
        case Refusal::TooManySections:
            return "the image has more sections than the 96 a linker writes";
        case Refusal::OptionalHeaderCut:
            return "the optional header runs past the end of the file";
        case Refusal::UnknownMagic:
            return "unknown optional header magic";
        case Refusal::OptionalHeaderShort:
            return "the optional header is too short";
        case Refusal::DirectoryCount:
            return "the image lists fewer data directories than the certificate table's or more than 16";
        case Refusal::DirectoriesCut:
            return "the data directories run past the optional header";
        case Refusal::NoResources:
            return "the image has no resources";
        case Refusal::SectionTableCut:
            return "the section table runs past the end of the file";
        case Refusal::SectionDataCut:
            return "a section's bytes run past the end of the file";
        case Refusal::CertificateInImage:
            return "the certificate table overlaps the sections' bytes";
        case Refusal::CertificateNotLast:
            return "the certificate table does not end the file";
    }
    return "unknown refusal";
}

Refusal ReadHeaders(Reader& r, Headers& img) {
    std::uint16_t dosMagic = 0;
    std::uint32_t peOffset = 0;
    if (!r.U16(0, dosMagic) || dosMagic != DosMagic) return Refusal::NoDosHeader;
    if (!r.U32(0x3C, peOffset)) return Refusal::NoDosHeader;
    if (peOffset < DosHeaderSize) return Refusal::NoPeSignature;

    std::uint32_t signature = 0;
    if (!r.U32(peOffset, signature) || signature != PeSignature) return Refusal::NoPeSignature;

    const std::uint64_t coff = std::uint64_t{peOffset} + 4;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    if (!r.U16(coff + 2, sectionCount) || !r.U16(coff + 16, optionalSize)) return Refusal::CoffHeaderCut;
    if (sectionCount == 0) return Refusal::NoSections;
    if (sectionCount > MaxSections) return Refusal::TooManySections;

    const std::uint64_t opt = coff + CoffHeaderSize;
    if (!r.InRange(opt, optionalSize)) return Refusal::OptionalHeaderCut;
    std::uint16_t magic = 0;
    if (!r.U16(opt, magic)) return Refusal::OptionalHeaderCut;
    std::uint32_t dirCountAt = 0;
    std::uint32_t dirsAt = 0;
    if (magic == MagicPe32) {
        dirCountAt = 92;
        dirsAt = 96;
    } else if (magic == MagicPe32Plus) {
        dirCountAt = 108;
        dirsAt = 112;
    } else {
        return Refusal::UnknownMagic;
    }
    if (optionalSize < dirsAt) return Refusal::OptionalHeaderShort;
    std::uint32_t dirCount = 0;
    if (!r.U32(opt + dirCountAt, dirCount)) return Refusal::OptionalHeaderCut;
    // A directory too short to hold the certificate entry would leave signing
    // nowhere to record the table.
    if (dirCount <= SecurityDirectory || dirCount > MaxDataDirectories) return Refusal::DirectoryCount;
    if (optionalSize < dirsAt + dirCount * DirectoryEntrySize) return Refusal::DirectoriesCut;

    img.coffOffset = coff;
    img.optionalOffset = opt;
    img.checksumOffset = opt + ChecksumField;
    img.directoriesOffset = opt + dirsAt;
    img.directoryCount = dirCount;
    const std::uint64_t dirs = img.directoriesOffset;
    img.securityDirOffset = dirs + SecurityDirectory * DirectoryEntrySize;
    if (!r.U32(dirs + ResourceDirectory * DirectoryEntrySize, img.resourceRva) ||
        !r.U32(dirs + ResourceDirectory * DirectoryEntrySize + 4, img.resourceSize) ||
        !r.U32(img.securityDirOffset, img.certOffset) || !r.U32(img.securityDirOffset + 4, img.certSize)) {
        return Refusal::OptionalHeaderCut;
    }
    if (img.resourceRva == 0 || img.resourceSize == 0) return Refusal::NoResources;

    const std::uint64_t table = opt + optionalSize;
    if (!r.InRange(table, std::uint64_t{sectionCount} * SectionHeaderSize)) return Refusal::SectionTableCut;
    img.sectionCount = sectionCount;
    img.headersEnd = table + std::uint64_t{sectionCount} * SectionHeaderSize;
    img.rawDataEnd = img.headersEnd;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = table + std::uint64_t{i} * SectionHeaderSize;
        Section& s = img.sections[i];
        s.headerOffset = at;
        if (!r.U32(at + 8, s.virtualSize) || !r.U32(at + 12, s.virtualAddress) || !r.U32(at + 16, s.rawSize) ||
            !r.U32(at + 20, s.rawOffset)) {
            return Refusal::SectionTableCut;
        }
        // A section whose data runs past the end of the file means the file
        // has been cut short.
        if (s.rawSize != 0) {
            if (!r.InRange(s.rawOffset, s.rawSize)) return Refusal::SectionDataCut;
            img.rawDataEnd = std::max(img.rawDataEnd, std::uint64_t{s.rawOffset} + s.rawSize);
        }
    }

    // Signing appends the table after everything else; a table anywhere else
    // would let a changed part of the image escape the digest.
    if (img.certSize != 0) {
        if (img.certOffset < img.rawDataEnd) return Refusal::CertificateInImage;
        if (std::uint64_t{img.certOffset} + img.certSize != r.Size()) return Refusal::CertificateNotLast;
    } else {
        img.certOffset = 0;
    }
    return Refusal::None;
}

const Section* SectionHolding(const Headers& img, std::uint64_t rva, std::uint64_t len) {
    for (std::uint16_t i = 0; i < img.sectionCount; ++i) {
        const Section& s = img.sections[i];
        std::uint64_t backed = s.rawSize;
        if (s.virtualSize != 0 && s.virtualSize < backed) backed = s.virtualSize;
        if (rva < s.virtualAddress) continue;
        const std::uint64_t delta = rva - s.virtualAddress;
        if (delta >= backed || len > backed - delta) continue;
        return &s;
    }
    return nullptr;
}

bool RvaToOffset(const Headers& img, std::uint64_t rva, std::uint64_t len, std::uint64_t& off) {
    const Section* s = SectionHolding(img, rva, len);
    if (s == nullptr) return false;
    off = std::uint64_t{s->rawOffset} + (rva - s->virtualAddress);
    return true;
}

bool ReadDirectory(Reader& r, const Headers& img, std::uint32_t index, std::uint32_t& rva, std::uint32_t& size) {
    rva = size = 0;
    if (index >= img.directoryCount) return true;
    const std::uint64_t at = img.directoriesOffset + std::uint64_t{index} * DirectoryEntrySize;
    return r.U32(at, rva) && r.U32(at + 4, size);
}

namespace {

// One table of the resource tree, located in the file.
struct ResourceDir {
    std::uint64_t entriesOffset = 0;
    std::uint32_t count = 0;
};

struct ResourceEntry {
    std::uint32_t name = 0;    // high bit: offset of a name string, else an ID
    std::uint32_t target = 0;  // high bit: offset of a subdirectory, else of a data entry
};

class ResourceTree {
public:
    ResourceTree(Reader& r, const Headers& img) : r_(r), img_(img) {}

    // Offsets inside the tree are relative to its root.
    bool Locate(std::uint32_t treeOffset, std::uint64_t len, std::uint64_t& off) {
        return RvaToOffset(img_, std::uint64_t{img_.resourceRva} + treeOffset, len, off);
    }

    bool OpenDir(std::uint32_t treeOffset, ResourceDir& dir) {
        std::uint64_t off = 0;
        std::uint16_t named = 0;
        std::uint16_t ids = 0;
        if (!Locate(treeOffset, ResourceDirHeaderSize, off) || !r_.U16(off + 12, named) || !r_.U16(off + 14, ids)) {
            return false;
        }
        dir.count = std::uint32_t{named} + ids;
        if (dir.count > MaxDirectoryEntries) return false;
        // The entries must follow the header inside the same section.
        std::uint64_t whole = 0;
        if (!Locate(treeOffset, ResourceDirHeaderSize + std::uint64_t{dir.count} * ResourceEntrySize, whole) ||
            whole != off) {
            return false;
        }
        dir.entriesOffset = off + ResourceDirHeaderSize;
        return true;
    }

    bool Entry(const ResourceDir& dir, std::uint32_t i, ResourceEntry& e) {
        const std::uint64_t at = dir.entriesOffset + std::uint64_t{i} * ResourceEntrySize;
        return r_.U32(at, e.name) && r_.U32(at + 4, e.target);
    }

    // Compares a counted UTF-16 name with an ASCII upper-case one, ignoring
    // the case of ASCII letters.
    bool NameEquals(std::uint32_t treeOffset, const char* want, bool& equal) {
        equal = false;
        const std::size_t wantLen = std::strlen(want);
        std::uint64_t off = 0;
        std::uint16_t len = 0;
        if (!Locate(treeOffset, 2, off) || !r_.U16(off, len)) return false;
        if (len != wantLen) return true;
        std::uint64_t chars = 0;
        if (!Locate(treeOffset, 2 + std::uint64_t{len} * 2, chars)) return false;
        for (std::size_t i = 0; i < wantLen; ++i) {
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
    const Headers& img_;
};

// Type -> name -> first language -> data entry; a type given by name when
// `typeName` is set, else by `typeId`. The walk has a fixed depth and each
// level must be of the expected kind, so entries that point back up the
// tree cannot make it loop.
bool FindResourceData(Reader& r, const Headers& img, std::uint16_t typeId, const char* typeName, const char* name,
                      std::uint32_t& dataRva, std::uint32_t& dataSize) {
    ResourceTree tree(r, img);
    ResourceDir dir;
    ResourceEntry e;
    if (!tree.OpenDir(0, dir)) return false;

    bool found = false;
    for (std::uint32_t i = 0; i < dir.count && !found; ++i) {
        if (!tree.Entry(dir, i, e)) return false;
        if (!typeName)
            found = e.name == typeId;
        else if ((e.name & HighBit) != 0 && !tree.NameEquals(e.name & ~HighBit, typeName, found))
            return false;
    }
    if (!found || (e.target & HighBit) == 0) return false;
    if (!tree.OpenDir(e.target & ~HighBit, dir)) return false;

    found = false;
    for (std::uint32_t i = 0; i < dir.count && !found; ++i) {
        if (!tree.Entry(dir, i, e)) return false;
        if ((e.name & HighBit) == 0) continue;
        if (!tree.NameEquals(e.name & ~HighBit, name, found)) return false;
    }
    if (!found || (e.target & HighBit) == 0) return false;
    if (!tree.OpenDir(e.target & ~HighBit, dir)) return false;

    if (dir.count == 0 || !tree.Entry(dir, 0, e)) return false;
    if ((e.target & HighBit) != 0) return false;  // a language must hold data
    std::uint64_t dataEntry = 0;
    return tree.Locate(e.target, 16, dataEntry) && r.U32(dataEntry, dataRva) && r.U32(dataEntry + 4, dataSize);
}

bool Overlaps(std::uint64_t a, std::uint64_t aLen, std::uint64_t b, std::uint64_t bLen) {
    return aLen != 0 && bLen != 0 && a < b + bLen && b < a + aLen;
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
    bool Failed() const { return failed_; }

private:
    ByteSource& inner_;
    bool failed_ = false;
};

}  // namespace

bool LocateSeal(ByteSource& file, SealLayout& layout) {
    Reader r(file);
    Headers img;
    if (ReadHeaders(r, img) != Refusal::None) return false;

    std::uint32_t slotRva = 0;
    std::uint32_t slotSize = 0;
    if (!FindResourceData(r, img, SealResourceType, nullptr, SealResourceName, slotRva, slotSize) ||
        slotSize != DigestSize)
        return false;
    std::uint64_t slotOffset = 0;
    if (!RvaToOffset(img, slotRva, slotSize, slotOffset)) return false;

    if (Overlaps(slotOffset, slotSize, img.checksumOffset, ChecksumSize) ||
        Overlaps(slotOffset, slotSize, img.securityDirOffset, SecurityDirSize) ||
        Overlaps(slotOffset, slotSize, img.certOffset, img.certSize)) {
        return false;
    }

    layout.fileSize = r.Size();
    layout.checksumOffset = img.checksumOffset;
    layout.securityDirOffset = img.securityDirOffset;
    layout.certOffset = img.certOffset;
    layout.certSize = img.certSize;
    layout.slotOffset = slotOffset;
    layout.slotSize = slotSize;
    return true;
}

bool LocateResource(ByteSource& file, const char* type, const char* name, std::uint64_t& offset, std::uint32_t& size) {
    Reader r(file);
    Headers img;
    std::uint32_t rva = 0;
    return ReadHeaders(r, img) == Refusal::None && FindResourceData(r, img, 0, type, name, rva, size) &&
           RvaToOffset(img, rva, size, offset);
}

bool HashSealed(ByteSource& file, const SealLayout& layout, HashSink& sink) {
    const std::uint64_t size = file.Size();
    if (size != layout.fileSize) return false;

    struct Range {
        std::uint64_t offset, length;
    };
    std::array<Range, 4> skip{{
        {layout.checksumOffset, ChecksumSize},
        {layout.securityDirOffset, SecurityDirSize},
        {layout.certOffset, layout.certSize},
        {layout.slotOffset, layout.slotSize},
    }};
    for (const Range& s : skip) {
        if (s.offset > size || s.length > size - s.offset) return false;
    }
    std::sort(skip.begin(), skip.end(), [](const Range& a, const Range& b) { return a.offset < b.offset; });

    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, HashChunkSize)));
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
    return layout.slotSize == DigestSize && file.ReadAt(layout.slotOffset, out.data(), out.size());
}

SealStatus CheckSeal(ByteSource& file, DigestSink& hash) {
    FailureTrackingSource tracked(file);
    SealLayout layout;
    if (!LocateSeal(tracked, layout)) {
        return tracked.Failed() ? SealStatus::Unreadable : SealStatus::Malformed;
    }
    Digest stored{};
    Digest actual{};
    if (!ReadSealSlot(file, layout, stored) || !ComputeSealDigest(file, layout, hash, actual)) {
        return SealStatus::Unreadable;
    }
    return stored == actual ? SealStatus::Intact : SealStatus::Mismatch;
}

}  // namespace PeImage
