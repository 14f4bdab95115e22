// Covers: install/pe_image.cpp.
#include "install/pe_image.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

#include "tests/pe_builder.h"

namespace {

using namespace PeBuilder;
using PeImage::SealStatus;

constexpr std::size_t Slot = 3;  // LXSEAL in DefaultResources()

Image SealedImage(const ImageOptions& options = {}) {
    Image img = BuildImage(options);
    EXPECT_TRUE(Seal(img.bytes));
    return img;
}

SealStatus CheckPrefix(const std::vector<std::uint8_t>& bytes, std::size_t len) {
    PeImage::MemorySource src(std::span(bytes.data(), len));
    Sha256 hash;
    return PeImage::CheckSeal(src, hash);
}

TEST(MemorySource, RefusesRangesOutsideTheBytes) {
    const std::vector<std::uint8_t> bytes = Pattern(16, 1);
    constexpr auto Max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        std::uint64_t offset;
        std::size_t len;
        bool ok;
    } cases[] = {
        {0, 16, true},  {15, 1, true},  {16, 0, true},   {16, 1, false},
        {17, 0, false}, {1, 16, false}, {Max, 2, false}, {8, std::numeric_limits<std::size_t>::max(), false},
    };
    PeImage::MemorySource src(bytes);
    for (const auto& c : cases) {
        std::uint8_t out[16] = {};
        EXPECT_EQ(src.ReadAt(c.offset, out, c.len), c.ok) << c.offset << "+" << c.len;
    }
}

struct LocateCase {
    const char* what;
    std::function<void(ImageOptions&)> edit;
    int slot;  // index of the resource expected as the slot, -1 for none
};

TEST(LocateSeal, FindsTheSlotThroughTheResourceTree) {
    auto withLanguage = [](std::uint16_t lang, bool before) {
        return [=](ImageOptions& s) {
            Resource extra = s.resources[Slot];
            extra.lang = lang;
            s.resources.insert(s.resources.begin() + (before ? Slot : Slot + 1), extra);
        };
    };
    const LocateCase cases[] = {
        {"PE32", [](ImageOptions&) {}, Slot},
        {"PE32+", [](ImageOptions& s) { s.pe32plus = true; }, Slot},
        {"name in mixed case", [](ImageOptions& s) { s.resources[Slot].name.name = u"LxSeal"; }, Slot},
        {"first of two languages, 1033 first", withLanguage(1033, true), Slot},
        {"first of two languages, 1049 first", withLanguage(1033, false), Slot},
        {"the only resource", [](ImageOptions& s) { s.resources = {s.resources[Slot]}; }, 0},
        {"no slot", [](ImageOptions& s) { s.resources.erase(s.resources.begin() + Slot); }, -1},
        {"under type 11",
         [](ImageOptions& s) {
             s.resources[Slot].type = {11, {}};
         },
         -1},
        {"under a type named RCDATA",
         [](ImageOptions& s) {
             s.resources[Slot].type = {0, u"RCDATA"};
         },
         -1},
        {"under the ID 10",
         [](ImageOptions& s) {
             s.resources[Slot].name = {10, {}};
         },
         -1},
        {"non-ASCII letter whose low byte is L", [](ImageOptions& s) { s.resources[Slot].name.name = u"\u014CXSEAL"; },
         -1},
        {"31 bytes", [](ImageOptions& s) { s.resources[Slot].data.resize(31); }, -1},
        {"33 bytes", [](ImageOptions& s) { s.resources[Slot].data.resize(33); }, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ImageOptions options;
        c.edit(options);
        const Image img = BuildImage(options);
        PeImage::MemorySource src(img.bytes);
        PeImage::SealLayout layout;
        ASSERT_EQ(PeImage::LocateSeal(src, layout), c.slot >= 0);
        if (c.slot < 0) continue;
        EXPECT_EQ(layout.slotOffset, img.places[c.slot].data);
        EXPECT_EQ(layout.slotSize, PeImage::DigestSize);
        EXPECT_EQ(layout.checksumOffset, img.checksum);
        EXPECT_EQ(layout.securityDirOffset, img.security_dir);
        EXPECT_EQ(layout.certSize, 0u);
        EXPECT_EQ(layout.fileSize, img.bytes.size());
    }
}

TEST(CheckSeal, PassesOnlyOnceSealed) {
    for (bool plus : {false, true}) {
        Image img = BuildImage({plus});
        EXPECT_EQ(Check(img.bytes), SealStatus::Mismatch);
        ASSERT_TRUE(Seal(img.bytes));
        EXPECT_EQ(Check(img.bytes), SealStatus::Intact);
    }
}

// Flips each byte of a sealed file in two ways. Only the bytes signing
// rewrites may change without notice.
void ExpectEveryFlipCaught(const Image& img) {
    const auto& b = img.bytes;
    const std::size_t cert = Get32(b, img.security_dir + 4) ? Get32(b, img.security_dir) : b.size();
    std::string wrong;
    for (std::size_t off = 0; off < b.size(); ++off) {
        for (std::uint8_t mask : {0x01, 0x80}) {
            std::vector<std::uint8_t> changed = b;
            changed[off] ^= mask;
            const SealStatus got = Check(changed);
            bool ok;
            if ((off >= img.checksum && off < img.checksum + 4) || off >= cert) {
                ok = got == SealStatus::Intact;
            } else if (off >= img.security_dir && off < img.security_dir + 8) {
                ok = got != SealStatus::Mismatch;  // not hashed: either still valid or rejected
            } else if (off >= img.code && off < img.rsrc) {
                ok = got == SealStatus::Mismatch;  // code and data are never parsed
            } else {
                ok = got != SealStatus::Intact;
            }
            if (!ok && wrong.size() < 400) wrong += " " + std::to_string(off) + "^" + std::to_string(mask);
        }
    }
    EXPECT_EQ(wrong, "") << "flips giving the wrong result";
}

TEST(CheckSeal, CatchesEveryChangedByte) {
    for (bool plus : {false, true}) {
        SCOPED_TRACE(plus ? "PE32+" : "PE32");
        ExpectEveryFlipCaught(SealedImage({plus}));
    }
}

TEST(CheckSeal, CatchesEveryChangedByteOfASignedFileOutsideTheSignature) {
    Image img = SealedImage();
    Sign(img, 300);
    ASSERT_EQ(Check(img.bytes), SealStatus::Intact);
    ExpectEveryFlipCaught(img);
}

TEST(CheckSeal, SigningAndResigningAfterSealingKeepTheSealValid) {
    for (std::size_t len : {1u, 8u, 1000u, 70000u}) {
        SCOPED_TRACE(len);
        Image img = SealedImage();
        Sign(img, len);
        EXPECT_EQ(Check(img.bytes), SealStatus::Intact);
        Unsign(img);
        EXPECT_EQ(Check(img.bytes), SealStatus::Intact);
        Sign(img, len + 77, 99);
        EXPECT_EQ(Check(img.bytes), SealStatus::Intact);
    }
}

TEST(CheckSeal, CatchesAppendedBytes) {
    for (bool sign : {false, true}) {
        Image img = SealedImage();
        if (sign) Sign(img, 100);
        img.bytes.resize(img.bytes.size() + 8);
        EXPECT_EQ(Check(img.bytes), sign ? SealStatus::Malformed : SealStatus::Mismatch);
    }
}

TEST(LocateSeal, RejectsEveryTruncation) {
    for (bool sign : {false, true}) {
        SCOPED_TRACE(sign ? "signed" : "unsigned");
        Image img = SealedImage();
        if (sign) Sign(img, 100);
        std::string wrong;
        for (std::size_t len = 0; len < img.bytes.size(); ++len) {
            if (CheckPrefix(img.bytes, len) != SealStatus::Malformed) wrong += " " + std::to_string(len);
        }
        EXPECT_EQ(wrong, "") << "lengths not rejected";
    }
}

struct Hostile {
    const char* what;
    std::function<void(Image&)> edit;
};

TEST(LocateSeal, RejectsHostileValues) {
    auto set16 = [](auto at, std::uint32_t v) { return [=](Image& i) { Put16(i.bytes, at(i), v); }; };
    auto set32 = [](auto at, std::uint32_t v) { return [=](Image& i) { Put32(i.bytes, at(i), v); }; };
    auto fixed = [](std::size_t off) { return [=](const Image&) { return off; }; };
    auto coff = [](std::size_t rel) { return [=](const Image& i) { return i.optionalHeader - 20 + rel; }; };
    auto opt = [](std::size_t rel) { return [=](const Image& i) { return i.optionalHeader + rel; }; };
    auto dirs = [](std::size_t rel) { return [=](const Image& i) { return i.security_dir - 32 + rel; }; };
    auto dirCount = [](const Image& i) { return i.security_dir - 36; };
    auto rsrcVsize = [](const Image& i) { return Get32(i.bytes, i.section_table + 2 * 40 + 8); };
    auto section = [](std::size_t n, std::size_t rel) {
        return [=](const Image& i) { return i.section_table + 40 * n + rel; };
    };
    auto slot = [](std::size_t ResourcePlace::*field, std::size_t rel) {
        return [=](const Image& i) { return i.places[Slot].*field + rel; };
    };
    auto tree = [](std::size_t ResourcePlace::*entry) {  // section-relative target of an entry
        return [=](const Image& i) { return Get32(i.bytes, i.places[Slot].*entry + 4) & ~High; };
    };
    auto point = [](std::size_t ResourcePlace::*entry, std::function<std::uint32_t(const Image&)> to) {
        return [=](Image& i) { Put32(i.bytes, i.places[Slot].*entry + 4, to(i)); };
    };
    auto cert = [](std::size_t extra, std::function<std::uint32_t(const Image&)> offset, std::uint32_t size) {
        return [=](Image& i) {
            const std::uint32_t at = offset(i);
            i.bytes.resize(i.bytes.size() + extra);
            Put32(i.bytes, i.security_dir, at);
            Put32(i.bytes, i.security_dir + 4, size);
        };
    };
    auto end = [](const Image& i) { return static_cast<std::uint32_t>(i.bytes.size()); };
    auto slotOver = [](std::function<std::size_t(const Image&)> field) {
        return [=](Image& i) {  // map .text over the headers, then aim the slot at a skipped field
            Put32(i.bytes, i.section_table + 20, 0);
            Put32(i.bytes, i.places[Slot].dataEntry, 0x1000 + static_cast<std::uint32_t>(field(i)) - 8);
        };
    };
    using P = ResourcePlace;

    const Hostile cases[] = {
        {"DOS magic", set16(fixed(0), 0x5A4E)},
        {"e_lfanew zero", set32(fixed(0x3C), 0)},
        {"e_lfanew inside the DOS header", set32(fixed(0x3C), 0x3C)},
        {"e_lfanew far past the end", set32(fixed(0x3C), 0xFFFFFFF0)},
        {"e_lfanew at the last two bytes",
         [](Image& i) { Put32(i.bytes, 0x3C, static_cast<std::uint32_t>(i.bytes.size() - 2)); }},
        {"PE signature", set16(fixed(0x82), 1)},
        {"no sections", set16(coff(2), 0)},
        {"97 sections", set16(coff(2), 97)},
        {"65535 sections", set16(coff(2), 0xFFFF)},
        {"SizeOfOptionalHeader past the end", set16(coff(16), 0xFFFF)},
        {"SizeOfOptionalHeader short of the directories", set16(coff(16), 0x60)},
        {"optional header magic", set16(opt(0), 0x107)},
        {"four data directories", set32(dirCount, 4)},
        {"2^32-1 data directories", set32(dirCount, 0xFFFFFFFF)},
        {"no resource directory", set32(dirs(16), 0)},
        {"resource directory outside every section", set32(dirs(16), 0x7FFF0000)},
        {"section data past the end", set32(section(2, 16), 0xFFFFFFFF)},
        {"section data pointer past the end", set32(section(2, 20), 0xFFFFFE00)},
        {"section address wraps", set32(section(2, 12), 0xFFFFF000)},
        {"root with 2x65535 entries", [](Image& i) { Put32(i.bytes, i.rsrc + 12, 0xFFFFFFFF); }},
        {"type ID with stray high bits", set32(slot(&P::typeEntry, 0), 0x0001000A)},
        {"RCDATA entry points back at the root", point(&P::typeEntry, [](const Image&) { return High; })},
        {"LXSEAL entry points at its own directory",
         point(&P::name_entry, [=](const Image& i) { return tree(&P::typeEntry)(i) | High; })},
        {"language entry points at the root as a directory", point(&P::lang_entry, [](const Image&) { return High; })},
        {"language entry takes the root for a data entry", point(&P::lang_entry, [](const Image&) { return 0u; })},
        {"language entry far outside", point(&P::lang_entry, [](const Image&) { return 0x7FFFFFF0u; })},
        {"empty language directory", [=](Image& i) { Put16(i.bytes, i.rsrc + tree(&P::name_entry)(i) + 14, 0); }},
        {"name string far outside", set32(slot(&P::name_entry, 0), High | 0x7FFFFFFF)},
        {"name string runs out of the section",
         [=](Image& i) {
             Put32(i.bytes, i.places[Slot].name_entry, High | (rsrcVsize(i) - 4));
             Put16(i.bytes, i.rsrc + rsrcVsize(i) - 4, 6);
         }},
        {"slot in the headers", set32(slot(&P::dataEntry, 0), 0x100)},
        {"slot across the end of its section",
         [=](Image& i) { Put32(i.bytes, i.places[Slot].dataEntry, RsrcRva + rsrcVsize(i) - 16); }},
        {"slot address wraps", set32(slot(&P::dataEntry, 0), 0xFFFFFFF0)},
        {"slot of 31 bytes", set32(slot(&P::dataEntry, 4), 31)},
        {"slot of 4 GiB", set32(slot(&P::dataEntry, 4), 0xFFFFFFFF)},
        {"slot laid over CheckSum", slotOver([](const Image& i) { return i.checksum; })},
        {"slot laid over the certificate entry", slotOver([](const Image& i) { return i.security_dir; })},
        {"certificate table past the end", cert(0, end, 8)},
        {"certificate size past the end", cert(16, end, 0x1000)},
        {"certificate range wraps", cert(
                                        0, [](const Image&) { return 0xFFFFFFF8u; }, 0x10)},
        {"certificate table from offset 0",
         [](Image& i) { Put32(i.bytes, i.security_dir + 4, static_cast<std::uint32_t>(i.bytes.size())); }},
        {"certificate table over the resources",
         [](Image& i) {
             Put32(i.bytes, i.security_dir, static_cast<std::uint32_t>(i.rsrc));
             Put32(i.bytes, i.security_dir + 4, static_cast<std::uint32_t>(i.bytes.size() - i.rsrc));
         }},
        {"certificate table over the resource after the slot",
         [](Image& i) {
             const std::size_t at = i.places[Slot + 1].data;
             Put32(i.bytes, i.security_dir, static_cast<std::uint32_t>(at));
             Put32(i.bytes, i.security_dir + 4, static_cast<std::uint32_t>(i.bytes.size() - at));
         }},
        {"certificate table followed by other data", cert(16, end, 8)},
    };
    for (bool plus : {false, true}) {
        const Image base = SealedImage({plus});
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (plus ? " (PE32+)" : " (PE32)"));
            Image img = base;
            c.edit(img);
            ASSERT_NE(img.bytes, base.bytes);
            PeImage::MemorySource src(img.bytes);
            PeImage::SealLayout layout;
            EXPECT_FALSE(PeImage::LocateSeal(src, layout));
            EXPECT_EQ(Check(img.bytes), SealStatus::Malformed);
        }
    }
}

// Fails the n-th read; counts the reads made.
class FlakySource final : public PeImage::ByteSource {
public:
    FlakySource(const std::vector<std::uint8_t>& bytes, int failAt) : inner_(bytes), fail_at_(failAt) {}
    std::uint64_t Size() override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void* out, std::size_t len) override {
        return reads++ != fail_at_ && inner_.ReadAt(offset, out, len);
    }
    int reads = 0;

private:
    PeImage::MemorySource inner_;
    int fail_at_;
};

TEST(CheckSeal, AFailedReadMakesTheFileUnreadableNotAltered) {
    Image img = SealedImage();
    Sign(img, 100);
    FlakySource counter(img.bytes, -1);
    Sha256 hash;
    ASSERT_EQ(PeImage::CheckSeal(counter, hash), SealStatus::Intact);
    ASSERT_GT(counter.reads, 20);
    for (int n = 0; n < counter.reads; ++n) {
        FlakySource src(img.bytes, n);
        Sha256 fresh;
        EXPECT_EQ(PeImage::CheckSeal(src, fresh), SealStatus::Unreadable) << "read " << n;
    }
}

// Keeps what it is fed; fails the n-th update.
struct Recorder final : PeImage::DigestSink {
    bool Update(const void* data, std::size_t len) override {
        if (updates++ == failAt) return false;
        largest = std::max(largest, len);
        got.insert(got.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + len);
        return true;
    }
    bool Finish(PeImage::Digest&) override { return true; }
    std::vector<std::uint8_t> got;
    std::size_t largest = 0;
    int updates = 0;
    int failAt = -1;
};

TEST(HashSealed, FeedsEveryByteButTheSkippedOnesInBoundedPieces) {
    ImageOptions options;
    options.resources[0].data = Pattern(3 * PeImage::HashChunkSize + 777, 5);  // the embedded payload
    Image img = BuildImage(options);
    Sign(img, 5000);
    PeImage::MemorySource src(img.bytes);
    PeImage::SealLayout layout;
    ASSERT_TRUE(PeImage::LocateSeal(src, layout));

    std::vector<std::uint8_t> want;
    const std::size_t slot = img.places[Slot].data, cert = Get32(img.bytes, img.security_dir);
    for (std::size_t off = 0; off < img.bytes.size(); ++off) {
        const bool skipped = (off >= img.checksum && off < img.checksum + 4) ||
                             (off >= img.security_dir && off < img.security_dir + 8) ||
                             (off >= slot && off < slot + 32) || off >= cert;
        if (!skipped) want.push_back(img.bytes[off]);
    }
    Recorder r;
    ASSERT_TRUE(PeImage::HashSealed(src, layout, r));
    EXPECT_TRUE(r.got == want) << r.got.size() << " bytes fed, " << want.size() << " expected";
    EXPECT_LE(r.largest, PeImage::HashChunkSize);
    EXPECT_GE(r.updates, 4);
}

TEST(HashSealed, FailsWhenTheSinkFailsOrTheFileNoLongerFits) {
    const Image img = SealedImage();
    PeImage::MemorySource src(img.bytes);
    PeImage::SealLayout layout;
    ASSERT_TRUE(PeImage::LocateSeal(src, layout));
    for (int n : {0, 1, 3}) {
        Recorder r;
        r.failAt = n;
        EXPECT_FALSE(PeImage::HashSealed(src, layout, r)) << "sink failing at update " << n;
        Recorder again;
        again.failAt = n;
        EXPECT_EQ(PeImage::CheckSeal(src, again), SealStatus::Unreadable);
    }
    const std::vector<std::uint8_t> longer = [&] {
        auto b = img.bytes;
        b.push_back(0);
        return b;
    }();
    PeImage::MemorySource grown(longer);
    Recorder r;
    EXPECT_FALSE(PeImage::HashSealed(grown, layout, r));
    PeImage::SealLayout outside = layout;
    outside.slotOffset = layout.fileSize - 16;
    EXPECT_FALSE(PeImage::HashSealed(src, outside, r));
}

}  // namespace
