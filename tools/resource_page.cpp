#include "tools/resource_page.h"

#include <limits>
#include <span>

#include "install/pe_image.h"

namespace ResourcePage {
namespace {

using PeImage::Headers;
using PeImage::Refusal;
using PeImage::Section;

void Put32(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

bool Fail(std::string& error, const char* why) {
    error = why;
    return false;
}

}  // namespace

bool PlaceResourcesOnPage(std::vector<std::uint8_t>& image, std::uint32_t& moved, std::string& error) {
    moved = 0;
    PeImage::MemorySource source(image);
    PeImage::Reader in(source);
    Headers headers;
    if (const Refusal refusal = PeImage::ReadHeaders(in, headers); refusal != Refusal::None)
        return Fail(error, PeImage::RefusalText(refusal));

    std::uint32_t debugRva = 0, debugSize = 0, symbols = 0, fileAlignment = 0;
    if (!PeImage::ReadDirectory(in, headers, PeImage::DebugDirectory, debugRva, debugSize) ||
        !in.U32(headers.coffOffset + PeImage::SymbolTableField, symbols) ||
        !in.U32(headers.optionalOffset + PeImage::FileAlignmentField, fileAlignment))
        return Fail(error, "the headers run past the end of the file");
    if (headers.certSize != 0)
        return Fail(error, "the image is signed: its certificate table is addressed by file offset; sign afterwards");
    if (debugSize != 0) return Fail(error, "the image has a debug directory, addressed by file offset; link with -s");
    if (symbols != 0) return Fail(error, "the image has a COFF symbol table, addressed by file offset; link with -s");
    const Section* resources = PeImage::SectionHolding(headers, headers.resourceRva, 1);
    if (resources == nullptr) return Fail(error, "no section with file bytes holds the resource directory");

    const std::uint32_t start = resources->rawOffset;
    const std::uint32_t gap = (PageSize - start % PageSize) % PageSize;
    if (gap == 0) return true;
    if (fileAlignment == 0 || PageSize % fileAlignment != 0)
        return Fail(error, "the file alignment does not divide a page");
    if (image.size() > std::numeric_limits<std::uint32_t>::max() - gap)
        return Fail(error, "the image would grow past 4 GB");
    const auto sections = std::span(headers.sections).first(headers.sectionCount);
    for (const Section& s : sections) {
        if (s.rawSize != 0 && s.rawOffset < start && s.rawOffset + s.rawSize > start)
            return Fail(error, "another section's bytes overlap the resource section's start");
    }

    for (const Section& s : sections) {
        if (s.rawSize != 0 && s.rawOffset >= start) Put32(image, s.headerOffset + 20, s.rawOffset + gap);
    }
    Put32(image, headers.checksumOffset, 0);
    image.insert(image.begin() + start, gap, 0);
    moved = gap;
    return true;
}

}  // namespace ResourcePage
