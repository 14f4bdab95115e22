// Covers: nothing (support for install/pe_image.cpp's tests).
// Synthetic PE images for the tests of the integrity-check walk, so that
// they need no cross compiler: DOS header and stub, PE32 or PE32+ headers,
// a code section, a data section and a resource section with any tree of
// resources.
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "install/pe_image.h"

namespace PeBuilder {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
inline std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}
inline std::size_t AlignUp(std::size_t v, std::size_t a) { return (v + a - 1) / a * a; }

inline std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return v;
}

// A resource type or name: an ID, or a string when `name` is not empty.
struct Key {
    std::uint16_t id = 0;
    std::u16string name;
    bool operator==(const Key&) const = default;
};

struct Resource {
    Key type, name;
    std::uint16_t lang = 1049;
    std::vector<std::uint8_t> data;
};

inline std::vector<Resource> DefaultResources() {
    return {
        {{0, u"COK"}, {0, u"LXN"}, 1049, Pattern(5000, 7)},
        {{10, {}}, {0, u"LXSEAM"}, 1049, Pattern(32, 8)},  // near misses come first
        {{10, {}}, {0, u"LXSEALS"}, 1049, Pattern(32, 9)},
        {{10, {}}, {0, u"LXSEAL"}, 1049, std::vector<std::uint8_t>(32)},
        {{24, {}}, {1, {}}, 1033, Pattern(300, 10)},
    };
}

struct ImageOptions {
    bool pe32plus = false;
    std::vector<Resource> resources = DefaultResources();
    bool relocations = false;  // a fourth section after the resources, as linkers put .reloc
};

// File offsets of the parts of one resource in the tree.
struct ResourcePlace {
    std::size_t typeEntry, name_entry, lang_entry, dataEntry, data;
};

struct Image {
    std::vector<std::uint8_t> bytes;
    std::size_t optionalHeader, checksum, security_dir, section_table;
    std::size_t code, data, rsrc, rsrc_end;  // raw data of the three sections
    std::size_t reloc = 0;                   // and of the fourth, when asked for
    std::vector<ResourcePlace> places;       // parallel to ImageOptions::resources
};

constexpr std::uint32_t RsrcRva = 0x3000;
constexpr std::uint32_t High = 0x80000000u;

// Lays out the tree windres-style: directory tables, data entries, name
// strings, then the data. Directory offsets in `places` are section-relative.
inline std::vector<std::uint8_t> BuildResourceTree(const std::vector<Resource>& res,
                                                   std::vector<ResourcePlace>& places) {
    struct NameNode {
        Key key;
        std::vector<std::size_t> leaves;
    };
    struct TypeNode {
        Key key;
        std::vector<NameNode> names;
    };
    std::vector<TypeNode> types;
    for (std::size_t i = 0; i < res.size(); ++i) {
        auto t = std::find_if(types.begin(), types.end(), [&](auto& n) { return n.key == res[i].type; });
        if (t == types.end()) t = types.insert(types.end(), TypeNode{res[i].type, {}});
        auto n = std::find_if(t->names.begin(), t->names.end(), [&](auto& m) { return m.key == res[i].name; });
        if (n == t->names.end()) n = t->names.insert(t->names.end(), NameNode{res[i].name, {}});
        n->leaves.push_back(i);
    }
    auto namedFirst = [](const auto& a, const auto& b) { return !a.key.name.empty() && b.key.name.empty(); };
    std::stable_sort(types.begin(), types.end(), namedFirst);
    for (auto& t : types) std::stable_sort(t.names.begin(), t.names.end(), namedFirst);

    std::vector<std::uint8_t> r;
    std::vector<std::pair<std::size_t, std::u16string>> strings;
    places.assign(res.size(), {});
    auto dir = [&](std::size_t named, std::size_t total) {
        const std::size_t at = r.size();
        r.resize(at + 16 + 8 * total);
        Put16(r, at + 12, static_cast<std::uint32_t>(named));
        Put16(r, at + 14, static_cast<std::uint32_t>(total - named));
        return at;
    };
    auto key = [&](std::size_t entry, const Key& k) {
        if (k.name.empty())
            Put32(r, entry, k.id);
        else
            strings.emplace_back(entry, k.name);
    };
    auto countNamed = [](const auto& v) {
        return std::count_if(v.begin(), v.end(), [](auto& n) { return !n.key.name.empty(); });
    };

    const std::size_t root = dir(countNamed(types), types.size());
    std::vector<std::size_t> typeEntries, name_entries;
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        typeEntries.push_back(root + 16 + 8 * ti);
        key(typeEntries.back(), types[ti].key);
    }
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        const std::size_t d = dir(countNamed(types[ti].names), types[ti].names.size());
        Put32(r, typeEntries[ti] + 4, static_cast<std::uint32_t>(d) | High);
        for (std::size_t ni = 0; ni < types[ti].names.size(); ++ni) {
            name_entries.push_back(d + 16 + 8 * ni);
            key(name_entries.back(), types[ti].names[ni].key);
            for (std::size_t leaf : types[ti].names[ni].leaves) {
                places[leaf].typeEntry = typeEntries[ti];
                places[leaf].name_entry = name_entries.back();
            }
        }
    }
    std::size_t nameIndex = 0;
    for (auto& t : types) {
        for (auto& n : t.names) {
            const std::size_t d = dir(0, n.leaves.size());
            Put32(r, name_entries[nameIndex++] + 4, static_cast<std::uint32_t>(d) | High);
            for (std::size_t li = 0; li < n.leaves.size(); ++li) {
                places[n.leaves[li]].lang_entry = d + 16 + 8 * li;
                Put32(r, d + 16 + 8 * li, res[n.leaves[li]].lang);
            }
        }
    }
    for (std::size_t i = 0; i < res.size(); ++i) {
        places[i].dataEntry = r.size();
        r.resize(r.size() + 16);
        Put32(r, places[i].lang_entry + 4, static_cast<std::uint32_t>(places[i].dataEntry));
    }
    for (auto& [entry, s] : strings) {
        const std::size_t at = r.size();
        r.resize(at + 2 + 2 * s.size());
        Put16(r, at, static_cast<std::uint32_t>(s.size()));
        for (std::size_t c = 0; c < s.size(); ++c) Put16(r, at + 2 + 2 * c, s[c]);
        Put32(r, entry, static_cast<std::uint32_t>(at) | High);
    }
    for (std::size_t i = 0; i < res.size(); ++i) {
        r.resize(AlignUp(r.size(), 8));
        places[i].data = r.size();
        r.insert(r.end(), res[i].data.begin(), res[i].data.end());
        Put32(r, places[i].dataEntry, RsrcRva + static_cast<std::uint32_t>(places[i].data));
        Put32(r, places[i].dataEntry + 4, static_cast<std::uint32_t>(res[i].data.size()));
    }
    return r;
}

inline Image BuildImage(const ImageOptions& options = {}) {
    constexpr std::size_t FileAlign = 0x200, Headers = 0x400, Pe = 0x80;
    Image img;
    auto& b = img.bytes;
    const std::vector<std::uint8_t> code = Pattern(0x180, 1), data = Pattern(0x100, 2);
    const std::vector<std::uint8_t> rsrc = BuildResourceTree(options.resources, img.places);

    img.code = Headers;
    img.data = img.code + AlignUp(code.size(), FileAlign);
    img.rsrc = img.data + AlignUp(data.size(), FileAlign);
    img.rsrc_end = img.rsrc + AlignUp(rsrc.size(), FileAlign);
    const std::vector<std::uint8_t> reloc = options.relocations ? Pattern(0x90, 4) : std::vector<std::uint8_t>();
    const std::uint32_t relocRva = RsrcRva + static_cast<std::uint32_t>(AlignUp(rsrc.size(), 0x1000));
    if (options.relocations) img.reloc = img.rsrc_end;
    b.assign(img.rsrc_end + AlignUp(reloc.size(), FileAlign), 0);
    std::copy(reloc.begin(), reloc.end(), b.begin() + img.rsrc_end);
    std::copy(code.begin(), code.end(), b.begin() + img.code);
    std::copy(data.begin(), data.end(), b.begin() + img.data);
    std::copy(rsrc.begin(), rsrc.end(), b.begin() + img.rsrc);
    for (auto& p : img.places) {
        for (std::size_t* f : {&p.typeEntry, &p.name_entry, &p.lang_entry, &p.dataEntry, &p.data}) *f += img.rsrc;
    }

    Put16(b, 0, 0x5A4D);
    Put32(b, 0x3C, Pe);
    const std::string stub = "This program cannot be run in DOS mode.\r\r\n$";
    std::copy(stub.begin(), stub.end(), b.begin() + 0x4E);
    Put32(b, Pe, 0x4550);
    const std::size_t coff = Pe + 4;
    const std::size_t dirsAt = options.pe32plus ? 112 : 96;
    Put16(b, coff, options.pe32plus ? 0x8664 : 0x14C);
    const std::size_t sectionCount = options.relocations ? 4 : 3;
    Put16(b, coff + 2, static_cast<std::uint32_t>(sectionCount));
    Put32(b, coff + 4, 0x5F000000);  // TimeDateStamp
    Put16(b, coff + 16, static_cast<std::uint32_t>(dirsAt + 16 * 8));
    Put16(b, coff + 18, options.pe32plus ? 0x0022 : 0x0102);
    const std::size_t opt = img.optionalHeader = coff + 20;
    Put16(b, opt, options.pe32plus ? 0x20B : 0x10B);
    Put32(b, opt + 16, 0x1000);  // AddressOfEntryPoint
    Put32(b, opt + 32, 0x1000);  // SectionAlignment
    Put32(b, opt + 36, FileAlign);
    Put32(b, opt + 56, relocRva + static_cast<std::uint32_t>(AlignUp(reloc.size(), 0x1000)));
    Put32(b, opt + 60, Headers);
    Put16(b, opt + 68, 2);  // GUI subsystem
    Put32(b, opt + dirsAt - 4, 16);
    img.checksum = opt + 64;
    img.security_dir = opt + dirsAt + 4 * 8;
    Put32(b, opt + dirsAt + 2 * 8, RsrcRva);
    Put32(b, opt + dirsAt + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));

    img.section_table = opt + dirsAt + 16 * 8;
    struct {
        const char* name;
        std::uint32_t rva;
        std::size_t vsize, raw;
    } sections[] = {{".text", 0x1000, code.size(), img.code},
                    {".data", 0x2000, data.size(), img.data},
                    {".rsrc", RsrcRva, rsrc.size(), img.rsrc},
                    {".reloc", relocRva, reloc.size(), img.reloc}};
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = img.section_table + 40 * i;
        std::copy_n(sections[i].name, std::char_traits<char>::length(sections[i].name), b.begin() + at);
        Put32(b, at + 8, static_cast<std::uint32_t>(sections[i].vsize));
        Put32(b, at + 12, sections[i].rva);
        Put32(b, at + 16, static_cast<std::uint32_t>(AlignUp(sections[i].vsize, FileAlign)));
        Put32(b, at + 20, static_cast<std::uint32_t>(sections[i].raw));
        Put32(b, at + 36, i == 0 ? 0x60000020u : 0xC0000040u);
    }
    return img;
}

// What Authenticode signing does to a file: pad to 8 bytes, append a
// certificate table, point the directory entry at it and set CheckSum.
inline void Sign(Image& img, std::size_t certLen, std::uint32_t seed = 3) {
    auto& b = img.bytes;
    b.resize(AlignUp(b.size(), 8));
    const std::size_t at = b.size();
    const std::size_t len = AlignUp(8 + certLen, 8);
    std::vector<std::uint8_t> cert = Pattern(len, seed);
    b.insert(b.end(), cert.begin(), cert.end());
    Put32(b, at, static_cast<std::uint32_t>(len));  // WIN_CERTIFICATE.dwLength
    Put16(b, at + 4, 0x0200);                       // revision 2
    Put16(b, at + 6, 0x0002);                       // PKCS#7 signed data
    Put32(b, img.security_dir, static_cast<std::uint32_t>(at));
    Put32(b, img.security_dir + 4, static_cast<std::uint32_t>(len));
    Put32(b, img.checksum, 0x0004F3A1);
}

// Removes a certificate table again, as re-signing tools do.
inline void Unsign(Image& img) {
    img.bytes.resize(Get32(img.bytes, img.security_dir));
    Put32(img.bytes, img.security_dir, 0);
    Put32(img.bytes, img.security_dir + 4, 0);
    Put32(img.bytes, img.checksum, 0);
}

class Sha256 final : public PeImage::DigestSink {
public:
    Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }
    ~Sha256() override { EVP_MD_CTX_free(ctx_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    bool Update(const void* data, std::size_t len) override { return EVP_DigestUpdate(ctx_, data, len) == 1; }
    bool Finish(PeImage::Digest& out) override { return EVP_DigestFinal_ex(ctx_, out.data(), nullptr) == 1; }

private:
    EVP_MD_CTX* ctx_;
};

// What lexomir_seal does, on bytes in memory.
inline bool Seal(std::vector<std::uint8_t>& bytes) {
    PeImage::MemorySource src(bytes);
    PeImage::SealLayout layout;
    Sha256 hash;
    PeImage::Digest digest{};
    if (!PeImage::LocateSeal(src, layout) || !PeImage::ComputeSealDigest(src, layout, hash, digest)) return false;
    std::copy(digest.begin(), digest.end(), bytes.begin() + static_cast<std::ptrdiff_t>(layout.slotOffset));
    return true;
}

inline PeImage::SealStatus Check(const std::vector<std::uint8_t>& bytes) {
    PeImage::MemorySource src(bytes);
    Sha256 hash;
    return PeImage::CheckSeal(src, hash);
}

}  // namespace PeBuilder
