// Covers: nothing (support for install/version_probes.cpp's tests).
// Executables with a version resource, for the tests of the version probes
// and of the version-compared replacement: a VS_VERSIONINFO block in the
// 32-bit (UTF-16) layout windres writes, carried as RT_VERSION #1 in a
// synthetic PE image.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/pe_builder.h"

namespace VersionResource {

struct StringTable {
    std::string key;  // language and code page, e.g. "041904E3"
    std::vector<std::pair<std::string, std::string>> values;
};

struct VersionInfo {
    std::vector<StringTable> tables;
    std::vector<std::uint32_t> translations;  // low word language, high word code page
};

class BlockWriter {
public:
    std::vector<std::uint8_t> bytes;

    // Starts a node; returns where its length goes.
    std::size_t Begin(const std::string& key, std::uint16_t valueLength, std::uint16_t type) {
        Pad();
        const std::size_t at = bytes.size();
        Word(0);
        Word(valueLength);
        Word(type);
        Text(key);
        Pad();
        return at;
    }
    void End(std::size_t at) { PeBuilder::Put16(bytes, at, static_cast<std::uint32_t>(bytes.size() - at)); }
    void Word(std::uint16_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void Text(const std::string& ascii) {
        for (char c : ascii) Word(static_cast<unsigned char>(c));
        Word(0);
    }
    void Pad() {
        while (bytes.size() % 4) bytes.push_back(0);
    }
};

inline std::vector<std::uint8_t> Block(const VersionInfo& info) {
    BlockWriter w;
    const std::size_t root = w.Begin("VS_VERSION_INFO", 52, 0);
    const std::size_t fixed = w.bytes.size();
    w.bytes.resize(fixed + 52);
    PeBuilder::Put32(w.bytes, fixed, 0xFEEF04BD);
    PeBuilder::Put32(w.bytes, fixed + 4, 0x00010000);
    if (!info.tables.empty()) {
        const std::size_t files = w.Begin("StringFileInfo", 0, 1);
        for (const StringTable& t : info.tables) {
            const std::size_t table = w.Begin(t.key, 0, 1);
            for (const auto& [name, value] : t.values) {
                const std::size_t s = w.Begin(name, static_cast<std::uint16_t>(value.size() + 1), 1);
                w.Text(value);
                w.End(s);
            }
            w.End(table);
        }
        w.End(files);
    }
    if (!info.translations.empty()) {
        const std::size_t vars = w.Begin("VarFileInfo", 0, 1);
        const std::size_t var = w.Begin("Translation", static_cast<std::uint16_t>(4 * info.translations.size()), 0);
        for (std::uint32_t t : info.translations) {
            w.Word(static_cast<std::uint16_t>(t));
            w.Word(static_cast<std::uint16_t>(t >> 16));
        }
        w.End(var);
        w.End(vars);
    }
    w.End(root);
    return w.bytes;
}

// A GUI executable for Windows 4.0, with or without a version resource.
inline std::vector<std::uint8_t> Executable(const VersionInfo* info, std::uint16_t language = 0x0419) {
    PeBuilder::ImageOptions options;
    options.resources = {{{10, {}}, {0, u"LXSEAL"}, 1049, std::vector<std::uint8_t>(32)}};
    if (info) options.resources.push_back({{16, {}}, {1, {}}, language, Block(*info)});
    PeBuilder::Image image = PeBuilder::BuildImage(options);
    PeBuilder::Put16(image.bytes, image.optionalHeader + 48, 4);  // MajorSubsystemVersion
    return image.bytes;
}

// The usual case: one table, language 0x0419 with code page 1251.
inline std::vector<std::uint8_t> ExecutableWithVersion(const std::string& fileVersion) {
    const VersionInfo info{{{"041904E3", {{"CompanyName", "Lexomir"}, {"FileVersion", fileVersion}}}}, {0x04E30419}};
    return Executable(&info);
}

}  // namespace VersionResource
