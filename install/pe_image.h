// The one reader of PE images in this project, and the walk behind the
// installer's self-integrity check.
//
// ReadHeaders finds the headers, the data directories and the section
// table, and refuses a file that breaks a rule with the rule's own cause;
// the installer's self-check and the build's tools (the resource move, the
// sealing tool) all read images through it.
//
// The installer carries a 32-byte digest slot (RCDATA resource "LXSEAL").
// After linking, the sealing tool hashes the whole executable file except
// the bytes that Authenticode signing rewrites (the optional header's
// CheckSum, the certificate-table directory entry and the certificate table
// itself) and the slot, and stores the SHA-256 digest in the slot. At run
// time the installer repeats the same walk over its own file and compares.
//
// Pure C++ over bytes, with no operating-system headers: the same code runs
// in the host tools, in the installer and under a fuzzer. Every read is
// checked against the file size before it is made, so a truncated or
// hostile file yields a refusal, never an out-of-bounds access.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace PeImage {

inline constexpr std::size_t DigestSize = 32;  // SHA-256
using Digest = std::array<std::uint8_t, DigestSize>;

// Where the digest lives: resource type RT_RCDATA, name "LXSEAL", first
// language. windres stores names upper-case; the lookup ignores ASCII case.
inline constexpr std::uint16_t SealResourceType = 10;
inline constexpr char SealResourceName[] = "LXSEAL";

// The largest piece of the file read and hashed at once.
inline constexpr std::size_t HashChunkSize = std::size_t{1} << 20;

// Random-access read-only view of a file.
struct ByteSource {
    virtual ~ByteSource();
    virtual std::uint64_t Size() = 0;
    // False when [offset, offset + len) is not inside the file or the read
    // fails.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t len) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Reads little-endian fields, refusing anything outside the file before the
// source is asked for it.
class Reader {
public:
    explicit Reader(ByteSource& source) : source_(source), size_(source.Size()) {}

    std::uint64_t Size() const { return size_; }
    bool InRange(std::uint64_t offset, std::uint64_t len) const { return offset <= size_ && len <= size_ - offset; }
    bool Bytes(std::uint64_t offset, void* out, std::size_t len);
    bool U16(std::uint64_t offset, std::uint16_t& value);
    bool U32(std::uint64_t offset, std::uint32_t& value);

private:
    ByteSource& source_;
    std::uint64_t size_;
};

// Limits well above anything a linker produces for this program; they keep
// a hostile file from making a walk long.
inline constexpr std::uint16_t MaxSections = 96;
inline constexpr std::uint32_t MaxDataDirectories = 16;

// The data directories this project reads.
inline constexpr std::uint32_t ResourceDirectory = 2;
inline constexpr std::uint32_t SecurityDirectory = 4;
inline constexpr std::uint32_t DebugDirectory = 6;

// Fields that ReadHeaders leaves unread, from the start of their header.
inline constexpr std::uint32_t SymbolTableField = 8;     // COFF: PointerToSymbolTable
inline constexpr std::uint32_t FileAlignmentField = 36;  // optional header: FileAlignment

struct Section {
    std::uint64_t headerOffset = 0;  // its entry in the section table
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// What ReadHeaders found: file offsets of the headers and of the fields
// that signing and the build's steps rewrite, and the section table.
struct Headers {
    std::uint64_t coffOffset = 0;      // the COFF file header, after "PE\0\0"
    std::uint64_t optionalOffset = 0;  // the optional header
    std::uint64_t checksumOffset = 0;
    std::uint64_t directoriesOffset = 0;
    std::uint32_t directoryCount = 0;
    std::uint64_t securityDirOffset = 0;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
    std::uint32_t certOffset = 0;  // both 0 when the file carries no certificate table
    std::uint32_t certSize = 0;
    std::uint64_t headersEnd = 0;  // end of the section table
    std::uint64_t rawDataEnd = 0;  // end of the last section's file data
    std::uint16_t sectionCount = 0;
    std::array<Section, MaxSections> sections{};
};

// Why ReadHeaders refused a file.
enum class Refusal {
    None,
    NoDosHeader,
    NoPeSignature,
    CoffHeaderCut,
    NoSections,
    TooManySections,
    OptionalHeaderCut,
    UnknownMagic,
    OptionalHeaderShort,
    DirectoryCount,
    DirectoriesCut,
    NoResources,
    SectionTableCut,
    SectionDataCut,
    CertificateInImage,
    CertificateNotLast,
};

// The cause in words, for a tool to print.
const char* RefusalText(Refusal refusal);

// Reads the headers of a PE32 or PE32+ image that carries resources. Every
// project image does; a signed one carries its certificate table last, after
// every section's bytes.
Refusal ReadHeaders(Reader& reader, Headers& headers);

// The section whose file-backed bytes hold all of [rva, rva + len), or null.
const Section* SectionHolding(const Headers& headers, std::uint64_t rva, std::uint64_t len);

// The file offset of [rva, rva + len), which must lie in the file-backed
// part of one section.
bool RvaToOffset(const Headers& headers, std::uint64_t rva, std::uint64_t len, std::uint64_t& offset);

// A data directory's entry; zeros for one the image does not list.
bool ReadDirectory(Reader& reader, const Headers& headers, std::uint32_t index, std::uint32_t& rva,
                   std::uint32_t& size);

struct HashSink {
    virtual ~HashSink();
    virtual bool Update(const void* data, std::size_t len) = 0;
};

// A hash that can also deliver its result; each instance hashes one file.
struct DigestSink : HashSink {
    virtual bool Finish(Digest& out) = 0;
};

// File offsets of everything the digest leaves out. certSize is 0 when the
// file carries no certificate table (certOffset is then 0 as well).
struct SealLayout {
    std::uint64_t fileSize = 0;
    std::uint64_t checksumOffset = 0;     // 4 bytes
    std::uint64_t securityDirOffset = 0;  // 8 bytes
    std::uint64_t certOffset = 0;
    std::uint64_t certSize = 0;
    std::uint64_t slotOffset = 0;
    std::uint32_t slotSize = 0;  // always DigestSize
};

inline constexpr std::uint32_t ChecksumSize = 4;
inline constexpr std::uint32_t SecurityDirSize = 8;

// Finds the skipped ranges and the slot. False for anything that is not a
// well-formed PE32/PE32+ image with a 32-byte slot, and when a read fails.
bool LocateSeal(ByteSource& file, SealLayout& layout);

// The file offset and size of the data of resource `name` (first language)
// of the named type `type`, where the file holds all of it. Names are
// matched as the seal's is.
bool LocateResource(ByteSource& file, const char* type, const char* name, std::uint64_t& offset, std::uint32_t& size);

// Feeds every byte of the file, in order, except the ranges of the layout,
// to the sink in pieces of at most HashChunkSize bytes. False when a read
// or the sink fails, or the file no longer has the layout's size.
bool HashSealed(ByteSource& file, const SealLayout& layout, HashSink& sink);

// HashSealed followed by Finish.
bool ComputeSealDigest(ByteSource& file, const SealLayout& layout, DigestSink& hash, Digest& out);

// The digest currently stored in the slot.
bool ReadSealSlot(ByteSource& file, const SealLayout& layout, Digest& out);

enum class SealStatus {
    Intact,      // the stored digest matches the file
    Mismatch,    // the file has been changed since it was sealed
    Malformed,   // no valid PE image or no slot: changed, or never sealed
    Unreadable,  // a read or the hash itself failed; nothing can be said
};

// The whole check: locate, hash, compare. `hash` must be fresh.
SealStatus CheckSeal(ByteSource& file, DigestSink& hash);

}  // namespace PeImage
