#include "tools/resource_page.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "runtime/little_endian.h"

namespace pe {
namespace {

constexpr std::uint32_t ResourceDirectory = 2;
constexpr std::uint32_t SecurityDirectory = 4;
constexpr std::uint32_t DebugDirectory = 6;
constexpr std::size_t SectionHeaderSize = 40;

class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool Fits(std::size_t at, std::size_t len) const { return at <= bytes_.size() && len <= bytes_.size() - at; }
    // Out of range reads as 0; callers check Fits first where it matters.
    std::uint16_t U16(std::size_t at) const { return Fits(at, 2) ? ReadLittleEndian16(bytes_.data() + at) : 0; }
    std::uint32_t U32(std::size_t at) const { return Fits(at, 4) ? ReadLittleEndian32(bytes_.data() + at) : 0; }

private:
    const std::vector<std::uint8_t>& bytes_;
};

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Section {
    std::size_t header;  // file offset of its header
    std::uint32_t rva, virtualSize, rawSize, rawPointer;
};

bool Fail(std::string& error, const char* why) {
    error = why;
    return false;
}

}  // namespace

bool PlaceResourcesOnPage(std::vector<std::uint8_t>& image, std::uint32_t& moved, std::string& error) {
    moved = 0;
    const Reader in(image);
    if (!in.Fits(0, 0x40) || in.U16(0) != 0x5A4D) return Fail(error, "not an executable image (no MZ header)");
    const std::size_t pe = in.U32(0x3C);
    if (!in.Fits(pe, 24) || in.U32(pe) != 0x00004550) return Fail(error, "not a PE image (no PE signature)");
    const std::size_t coff = pe + 4;
    const std::size_t sectionCount = in.U16(coff + 2);
    const std::size_t optionalSize = in.U16(coff + 16);
    const std::size_t optional = coff + 20;
    if (!in.Fits(optional, optionalSize)) return Fail(error, "the optional header runs past the end of the file");

    // The data directories follow the optional header's fixed part, 16 bytes
    // longer in PE32+ (0x20B) than in PE32 (0x10B).
    const std::uint16_t magic = in.U16(optional);
    if (magic != 0x10B && magic != 0x20B) return Fail(error, "unknown optional header magic");
    const std::size_t directories = magic == 0x20B ? 112 : 96;
    if (optionalSize < directories) return Fail(error, "the optional header is too short");
    const std::size_t directoryCount =
        std::min<std::size_t>(in.U32(optional + directories - 4), (optionalSize - directories) / 8);
    auto directory = [&](std::uint32_t index, std::size_t field) {
        return index < directoryCount ? in.U32(optional + directories + 8 * index + field) : 0;
    };
    if (directory(SecurityDirectory, 4) != 0)
        return Fail(error, "the image is signed: its certificate table is addressed by file offset; sign afterwards");
    if (directory(DebugDirectory, 4) != 0)
        return Fail(error, "the image has a debug directory, addressed by file offset; link with -s");
    if (in.U32(coff + 8) != 0)
        return Fail(error, "the image has a COFF symbol table, addressed by file offset; link with -s");
    const std::uint32_t resourceRva = directory(ResourceDirectory, 0);
    if (resourceRva == 0 || directory(ResourceDirectory, 4) == 0) return Fail(error, "the image has no resources");

    const std::size_t table = optional + optionalSize;
    if (!in.Fits(table, sectionCount * SectionHeaderSize))
        return Fail(error, "the section table runs past the end of the file");
    std::vector<Section> sections;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = table + i * SectionHeaderSize;
        const Section s{at, in.U32(at + 12), in.U32(at + 8), in.U32(at + 16), in.U32(at + 20)};
        if (s.rawSize != 0 && !in.Fits(s.rawPointer, s.rawSize))
            return Fail(error, "a section's bytes run past the end of the file");
        sections.push_back(s);
    }
    const auto resources = std::find_if(sections.begin(), sections.end(), [&](const Section& s) {
        return s.rawSize != 0 && resourceRva >= s.rva && resourceRva - s.rva < std::max(s.virtualSize, s.rawSize);
    });
    if (resources == sections.end()) return Fail(error, "no section with file bytes holds the resource directory");

    const std::uint32_t start = resources->rawPointer;
    const std::uint32_t gap = (PageSize - start % PageSize) % PageSize;
    if (gap == 0) return true;
    const std::uint32_t fileAlignment = in.U32(optional + 36);
    if (fileAlignment == 0 || PageSize % fileAlignment != 0)
        return Fail(error, "the file alignment does not divide a page");
    if (image.size() > std::numeric_limits<std::uint32_t>::max() - gap)
        return Fail(error, "the image would grow past 4 GB");
    for (const Section& s : sections) {
        if (s.rawSize != 0 && s.rawPointer < start && s.rawPointer + s.rawSize > start)
            return Fail(error, "another section's bytes overlap the resource section's start");
    }

    for (const Section& s : sections) {
        if (s.rawSize != 0 && s.rawPointer >= start) Put32(image, s.header + 20, s.rawPointer + gap);
    }
    Put32(image, optional + 64, 0);  // CheckSum
    image.insert(image.begin() + start, gap, 0);
    moved = gap;
    return true;
}

}  // namespace pe
