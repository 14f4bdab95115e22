// Covers: tools/resource_page.cpp. The step after linking that moves the resource section to a page boundary
// in the file, on synthetic images: what it moves, what it leaves, and
// what it refuses to touch.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "tools/resource_page.h"

namespace {

using namespace PeBuilder;

struct SectionBytes {
    std::size_t rawPointer;
    std::vector<std::uint8_t> bytes;
};

// Every section's bytes, found as a loader finds them: through its header.
std::vector<SectionBytes> Sections(const Image& img) {
    const auto& b = img.bytes;
    const std::size_t count = b.at(img.optionalHeader - 20 + 2);
    std::vector<SectionBytes> out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = img.section_table + 40 * i;
        const std::size_t raw = Get32(b, at + 20), size = Get32(b, at + 16);
        out.push_back({raw, std::vector<std::uint8_t>(b.begin() + raw, b.begin() + raw + size)});
    }
    return out;
}

TEST(PlaceResourcesOnPage, MovesTheResourcesAndWhatFollowsThemToAPage) {
    for (const bool pe32plus : {false, true}) {
        for (const bool relocations : {false, true}) {
            SCOPED_TRACE(std::string(pe32plus ? "PE32+" : "PE32") + (relocations ? ", with .reloc" : ""));
            Image img = BuildImage({.pe32plus = pe32plus, .relocations = relocations});
            Put32(img.bytes, img.checksum, 0x1234);
            const Image before = img;
            ASSERT_NE(before.rsrc % ResourcePage::PageSize, 0u);

            std::uint32_t moved = 1;
            std::string error;
            ASSERT_TRUE(ResourcePage::PlaceResourcesOnPage(img.bytes, moved, error)) << error;
            EXPECT_EQ(moved, ResourcePage::PageSize - before.rsrc % ResourcePage::PageSize);
            EXPECT_EQ(img.bytes.size(), before.bytes.size() + moved);

            const auto was = Sections(before), now = Sections(img);
            ASSERT_EQ(now.size(), was.size());
            EXPECT_EQ(now[2].rawPointer % ResourcePage::PageSize, 0u);
            for (std::size_t i = 0; i < now.size(); ++i) {
                SCOPED_TRACE(i);
                EXPECT_EQ(now[i].bytes, was[i].bytes);  // every section reads as before
                EXPECT_EQ(now[i].rawPointer, was[i].rawPointer + (i >= 2 ? moved : 0));
            }
            EXPECT_EQ(Get32(img.bytes, img.checksum), 0u) << "a checksum of the old bytes is left";
            // Only the section pointers and the checksum change in the headers.
            for (std::size_t at = 0; at < before.rsrc; ++at) {
                const bool pointer = at >= img.section_table + 2 * 40 + 20 && (at - img.section_table - 20) % 40 < 4;
                if (!pointer && (at < img.checksum || at >= img.checksum + 4)) {
                    ASSERT_EQ(img.bytes[at], before.bytes[at]) << "byte " << at;
                }
            }
            for (std::size_t at = before.rsrc; at < before.rsrc + moved; ++at) ASSERT_EQ(img.bytes[at], 0) << at;

            // Sealed afterwards, the seal holds; the step is done once.
            ASSERT_TRUE(Seal(img.bytes));
            EXPECT_EQ(Check(img.bytes), PeImage::SealStatus::Intact);
            const std::vector<std::uint8_t> sealed = img.bytes;
            ASSERT_TRUE(ResourcePage::PlaceResourcesOnPage(img.bytes, moved, error)) << error;
            EXPECT_EQ(moved, 0u);
            EXPECT_EQ(img.bytes, sealed);
        }
    }
}

TEST(PlaceResourcesOnPage, RefusesWhatItCannotMoveSafelyAndChangesNothing) {
    const Image plain = BuildImage({.relocations = true});
    const std::size_t opt = plain.optionalHeader, dirs = opt + 96, table = plain.section_table;
    const struct {
        const char* name;
        std::function<void(Image&)> damage;
        const char* says;
    } cases[] = {
        {"not MZ", [](Image& i) { Put16(i.bytes, 0, 0x4D5A); }, "no MZ header"},
        {"too short for a DOS header", [](Image& i) { i.bytes.resize(0x20); }, "no MZ header"},
        {"no PE signature", [](Image& i) { Put32(i.bytes, 0x80, 0x4551); }, "no PE signature"},
        {"PE offset past the end", [](Image& i) { Put32(i.bytes, 0x3C, 0x7FFFFFF0); }, "no PE signature"},
        {"unknown magic", [&](Image& i) { Put16(i.bytes, opt, 0x107); }, "magic"},
        {"signed", [](Image& i) { Sign(i, 100); }, "signed"},
        {"debug directory", [&](Image& i) { Put32(i.bytes, dirs + 6 * 8 + 4, 28); }, "debug directory"},
        {"symbol table", [&](Image& i) { Put32(i.bytes, opt - 20 + 8, 0x9000); }, "symbol table"},
        {"no resources", [&](Image& i) { Put32(i.bytes, dirs + 2 * 8, 0); }, "no resources"},
        {"resources outside every section", [&](Image& i) { Put32(i.bytes, dirs + 2 * 8, 0x70000); },
         "holds the resource directory"},
        {"no sections", [&](Image& i) { Put16(i.bytes, opt - 20 + 2, 0); }, "no sections"},
        {"more sections than a linker writes", [&](Image& i) { Put16(i.bytes, opt - 20 + 2, 0x7000); },
         "more sections"},
        {"four data directories", [&](Image& i) { Put32(i.bytes, dirs - 4, 4); }, "data directories"},
        {"section table past the end", [&](Image& i) { i.bytes.resize(table + 60); }, "section table"},
        {"certificate table over the resources",
         [&](Image& i) {
             Put32(i.bytes, dirs + 4 * 8, static_cast<std::uint32_t>(plain.rsrc));
             Put32(i.bytes, dirs + 4 * 8 + 4, static_cast<std::uint32_t>(i.bytes.size() - plain.rsrc));
         },
         "overlaps the sections"},
        {"resource bytes past the end", [&](Image& i) { i.bytes.resize(plain.rsrc + 16); }, "past the end of the file"},
        {"file alignment not dividing a page", [&](Image& i) { Put32(i.bytes, opt + 36, 0x300); }, "file alignment"},
        {"a section overlapping the resources' start",
         [&](Image& i) { Put32(i.bytes, table + 40 + 16, static_cast<std::uint32_t>(plain.rsrc - plain.data + 8)); },
         "overlap"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Image img = plain;
        c.damage(img);
        const std::vector<std::uint8_t> damaged = img.bytes;
        std::uint32_t moved = 7;
        std::string error;
        EXPECT_FALSE(ResourcePage::PlaceResourcesOnPage(img.bytes, moved, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(moved, 0u);
        EXPECT_EQ(img.bytes, damaged);
    }
}

}  // namespace
