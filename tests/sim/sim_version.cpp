// Covers: platform/win32.h, host half. What the shell and version.dll say about a file on the simulated volume,
// read from the file's own bytes as Windows reads them: the PE headers for
// the executable type, the RT_VERSION resource for the version block, and
// the published VS_VERSIONINFO layout for queries into that block.
#include <algorithm>
#include <cstring>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Get16(const Bytes& b, std::size_t at, std::uint16_t& v) {
    if (at > b.size() || b.size() - at < 2) return false;
    v = std::uint16_t(b[at] | b[at + 1] << 8);
    return true;
}

bool Get32(const Bytes& b, std::size_t at, std::uint32_t& v) {
    if (at > b.size() || b.size() - at < 4) return false;
    v = b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
    return true;
}

// The facts of a PE image that these calls look at.
struct PeFacts {
    bool nt = false;  // "PE\0\0" behind the DOS header
    std::uint16_t characteristics = 0, subsystem = 0, subsystemMajor = 0, subsystemMinor = 0;
    bool hasVersion = false;
    std::size_t versionOffset = 0, versionSize = 0;  // file range of the version resource
};

constexpr std::uint16_t ImageFileDll = 0x2000;
constexpr std::uint16_t SubsystemWindowsGui = 2;

// One step down the resource tree: the entry with an integer id (any
// entry when id is 0). Returns its offset field.
bool ResourceEntry(const Bytes& b, std::size_t root, std::size_t dir, std::uint32_t id, std::uint32_t& field) {
    std::uint16_t named = 0, ids = 0;
    if (!Get16(b, root + dir + 12, named) || !Get16(b, root + dir + 14, ids)) return false;
    for (std::size_t i = 0; i < std::size_t(named) + ids; ++i) {
        std::uint32_t name = 0;
        if (!Get32(b, root + dir + 16 + 8 * i, name) || !Get32(b, root + dir + 20 + 8 * i, field)) return false;
        if (id == 0 || (!(name & 0x80000000u) && name == id)) return true;
    }
    return false;
}

bool RvaToOffset(const Bytes& b, std::size_t sections, std::uint16_t count, std::uint32_t rva, std::size_t& offset) {
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint32_t size = 0, address = 0, raw = 0;
        const std::size_t at = sections + 40 * std::size_t(i);
        if (!Get32(b, at + 8, size) || !Get32(b, at + 12, address) || !Get32(b, at + 20, raw)) return false;
        if (rva >= address && rva - address < size) {
            offset = raw + (rva - address);
            return true;
        }
    }
    return false;
}

PeFacts ReadPe(const Bytes& b) {
    PeFacts pe;
    std::uint16_t magic = 0;
    std::uint32_t lfanew = 0, signature = 0;
    if (!Get16(b, 0, magic) || magic != 0x5A4D || !Get32(b, 0x3C, lfanew) || !Get32(b, lfanew, signature) ||
        signature != 0x4550)
        return pe;
    const std::size_t coff = std::size_t(lfanew) + 4, optional = coff + 20;
    std::uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
    if (!Get16(b, coff + 2, sectionCount) || !Get16(b, coff + 16, optionalSize) ||
        !Get16(b, coff + 18, pe.characteristics) || !Get16(b, optional, optionalMagic) ||
        !Get16(b, optional + 48, pe.subsystemMajor) || !Get16(b, optional + 50, pe.subsystemMinor) ||
        !Get16(b, optional + 68, pe.subsystem))
        return pe;
    pe.nt = true;
    const std::size_t directories = optional + (optionalMagic == 0x20B ? 112 : 96);
    std::uint32_t directoryCount = 0, resourceRva = 0;
    if (!Get32(b, directories - 4, directoryCount) || directoryCount < 3 ||
        !Get32(b, directories + 2 * 8, resourceRva) || resourceRva == 0)
        return pe;
    const std::size_t sections = optional + optionalSize;
    std::size_t root = 0;
    if (!RvaToOffset(b, sections, sectionCount, resourceRva, root)) return pe;
    // RT_VERSION, VS_VERSION_INFO (1), the first language.
    std::uint32_t type = 0, name = 0, language = 0;
    if (!ResourceEntry(b, root, 0, 16, type) || !(type & 0x80000000u) ||
        !ResourceEntry(b, root, type & 0x7FFFFFFFu, 1, name) || !(name & 0x80000000u) ||
        !ResourceEntry(b, root, name & 0x7FFFFFFFu, 0, language) || (language & 0x80000000u))
        return pe;
    std::uint32_t dataRva = 0, dataSize = 0;
    std::size_t data = 0;
    if (!Get32(b, root + language, dataRva) || !Get32(b, root + language + 4, dataSize) ||
        !RvaToOffset(b, sections, sectionCount, dataRva, data) || data > b.size() || b.size() - data < dataSize)
        return pe;
    pe.hasVersion = true;
    pe.versionOffset = data;
    pe.versionSize = dataSize;
    return pe;
}

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && UpperAscii(text.substr(text.size() - end.size())) == UpperAscii(end);
}

// The bytes of a file as another reader with read sharing gets them.
std::optional<Bytes> ReadShared(const std::string& raw, DWORD& error) {
    Machine& m = pc();
    const std::string path = m.files.Resolve(m.FullPath(raw));
    auto it = path.empty() ? m.files.nodes.end() : m.files.nodes.find(path);
    if (it == m.files.nodes.end()) {
        error = ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    if (it->second.directory) {
        error = ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    if (m.FileOpenConflicts(path, GENERIC_READ, FILE_SHARE_READ)) {
        error = ERROR_SHARING_VIOLATION;
        return std::nullopt;
    }
    return it->second.data;
}

// The version resource of a file, or the error GetFileVersionInfoSizeA gives.
std::optional<Bytes> VersionResource(const std::string& raw, DWORD& error) {
    std::optional<Bytes> file = ReadShared(raw, error);
    if (!file) return std::nullopt;
    const PeFacts pe = ReadPe(*file);
    if (!pe.hasVersion) {
        error = ERROR_RESOURCE_DATA_NOT_FOUND;  // as Wine answers for a text file and a bare executable
        return std::nullopt;
    }
    Bytes resource(file->begin() + std::ptrdiff_t(pe.versionOffset),
                   file->begin() + std::ptrdiff_t(pe.versionOffset + pe.versionSize));
    // A 32-bit resource spells its first key in UTF-16: "VS_VERSION_INFO".
    if (resource.size() < 8 || resource[6] != 'V' || resource[7] != 0) {
        Unmodelled("a 16-bit version resource");
        error = ERROR_RESOURCE_DATA_NOT_FOUND;
        return std::nullopt;
    }
    return resource;
}

// Blocks that GetFileVersionInfoA filled, with the size the caller gave.
std::map<const void*, DWORD>& Blocks() {
    static std::map<const void*, DWORD> blocks;
    return blocks;
}

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, the key
// in UTF-16, padding to 32 bits, the value, padding, the children.
struct Node {
    std::size_t start = 0, end = 0;
    std::uint16_t valueLength = 0, type = 0;
    std::u16string key;
    std::size_t value = 0, children = 0;
};

std::size_t Align4(std::size_t v) { return (v + 3) & ~std::size_t(3); }

bool ReadNode(const std::uint8_t* block, std::size_t limit, std::size_t at, Node& node) {
    if (at + 6 > limit) return false;
    const std::uint16_t length = std::uint16_t(block[at] | block[at + 1] << 8);
    node.valueLength = std::uint16_t(block[at + 2] | block[at + 3] << 8);
    node.type = std::uint16_t(block[at + 4] | block[at + 5] << 8);
    if (length < 6 || at + length > limit) return false;
    node.start = at;
    node.end = at + length;
    node.key.clear();
    std::size_t p = at + 6;
    while (true) {
        if (p + 2 > node.end) return false;
        const char16_t c = char16_t(block[p] | block[p + 1] << 8);
        p += 2;
        if (!c) break;
        node.key += c;
    }
    node.value = Align4(p);
    const std::size_t valueBytes = node.type == 1 ? std::size_t(node.valueLength) * 2 : node.valueLength;
    node.children = Align4(node.value + valueBytes);
    if (node.value + valueBytes > node.end) return false;
    return true;
}

bool SameKey(const std::u16string& key, const std::string& wanted) {
    if (key.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char16_t a = key[i];
        char16_t b = char16_t(static_cast<unsigned char>(wanted[i]));
        if (a >= 'a' && a <= 'z') a = char16_t(a - 32);
        if (b >= 'a' && b <= 'z') b = char16_t(b - 32);
        if (a != b) return false;
    }
    return true;
}

}  // namespace

}  // namespace Sim

using Sim::pc;

DWORD_PTR WINAPI SHGetFileInfoA(LPCSTR path, DWORD, SHFILEINFOA* info, UINT infoSize, UINT flags) {
    const std::string raw = path ? path : "";
    if (pc().Enter("SHGetFileInfoA", pc().FullPath(raw))) return 0;
    if (flags != SHGFI_EXETYPE) Sim::Unmodelled("SHGetFileInfoA flags other than SHGFI_EXETYPE alone");
    (void)info;
    (void)infoSize;
    // Windows and Wine disagree on batch files and .com files; neither is probed here.
    for (const char* ext : {".bat", ".cmd", ".com", ".pif"})
        if (Sim::EndsWithNoCase(raw, ext)) Sim::Unmodelled(std::string("SHGetFileInfoA on a ") + ext + " file");
    DWORD error = 0;
    const std::optional<Sim::Bytes> file = Sim::ReadShared(raw, error);
    if (!file) return 0;
    std::uint16_t magic = 0;
    // Less than a whole DOS header is no program at all.
    if (file->size() < 64 || !Sim::Get16(*file, 0, magic) || magic != 0x5A4D) return 0;
    const Sim::PeFacts pe = Sim::ReadPe(*file);
    if (!pe.nt) {
        std::uint32_t lfanew = 0;
        std::uint16_t other = 0;
        if (Sim::Get32(*file, 0x3C, lfanew) && Sim::Get16(*file, lfanew, other) && other == 0x454E)
            Sim::Unmodelled("SHGetFileInfoA on a 16-bit Windows program");
        return 0x5A4D;  // MS-DOS program
    }
    if (pe.characteristics & Sim::ImageFileDll) return 0;
    if (pe.subsystem == Sim::SubsystemWindowsGui)
        return 0x4550 | DWORD(pe.subsystemMajor & 0xFF) << 24 | DWORD(pe.subsystemMinor & 0xFF) << 16;
    return 0x4550;
}

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
    const std::string raw = fileName ? fileName : "";
    if (auto e = pc().Enter("GetFileVersionInfoSizeA", pc().FullPath(raw))) return Sim::Fail(*e, 0);
    if (handle) *handle = 0;
    DWORD error = 0;
    const std::optional<Sim::Bytes> resource = Sim::VersionResource(raw, error);
    if (!resource) return Sim::Fail(error, 0);
    // Room for the block, its signature and the ANSI copies of its texts.
    return Sim::Fail(0, DWORD(resource->size() * 2 + 4));
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data) {
    const std::string raw = fileName ? fileName : "";
    if (auto e = pc().Enter("GetFileVersionInfoA", pc().FullPath(raw))) return Sim::Fail(*e, FALSE);
    if (!data) return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    DWORD error = 0;
    const std::optional<Sim::Bytes> resource = Sim::VersionResource(raw, error);
    if (!resource) return Sim::Fail(error, FALSE);
    const std::size_t copied = std::min<std::size_t>(size, resource->size());
    std::memcpy(data, resource->data(), copied);
    if (size >= resource->size() + 4) std::memcpy(static_cast<char*>(data) + resource->size(), "FE2X", 4);
    Sim::Blocks()[data] = size;
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
    if (auto e = pc().Enter("VerQueryValueA", subBlock ? subBlock : "")) return Sim::Fail(*e, FALSE);
    if (!block || !subBlock || !buffer) Sim::Unmodelled("VerQueryValueA without a block, path or result");
    auto known = Sim::Blocks().find(block);
    if (known == Sim::Blocks().end()) {
        Sim::Unmodelled("VerQueryValueA on a block GetFileVersionInfoA did not fill");
        return FALSE;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    const std::size_t capacity = known->second;
    Sim::Node node;
    if (!Sim::ReadNode(bytes, capacity, 0, node)) Sim::Unmodelled("VerQueryValueA on a damaged block");
    const std::size_t resourceSize = node.end;
    std::string path = subBlock;
    std::size_t from = 0;
    while (from < path.size()) {
        const std::size_t cut = path.find('\\', from);
        const std::string part = path.substr(from, cut == std::string::npos ? std::string::npos : cut - from);
        from = cut == std::string::npos ? path.size() : cut + 1;
        if (part.empty()) continue;
        Sim::Node child;
        bool found = false;
        for (std::size_t at = node.children; at < node.end; at = Sim::Align4(child.end)) {
            if (!Sim::ReadNode(bytes, node.end, at, child)) break;
            if (Sim::SameKey(child.key, part)) {
                found = true;
                break;
            }
        }
        if (!found) {
            if (length) *length = 0;
            return Sim::Fail(ERROR_RESOURCE_TYPE_NOT_FOUND, FALSE);
        }
        node = child;
    }
    if (node.type != 1) {
        *buffer = const_cast<std::uint8_t*>(bytes + node.value);
        if (length) *length = node.valueLength;
        return TRUE;
    }
    // A text is handed out in the ANSI code page, from the half of the block
    // behind the resource copy that the size of GetFileVersionInfoSizeA
    // leaves room for.
    const std::size_t ansi = resourceSize + 4 + node.value / 2;
    if (ansi + node.valueLength > capacity) {
        Sim::Unmodelled("VerQueryValueA text on a block smaller than GetFileVersionInfoSizeA asked for");
        return FALSE;
    }
    auto* out = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes)) + ansi;
    for (std::size_t i = 0; i < node.valueLength; ++i)
        out[i] = Sim::Narrow(std::wstring(1, wchar_t(bytes[node.value + 2 * i] | bytes[node.value + 2 * i + 1] << 8)),
                             CP_ACP)[0];
    if (node.valueLength) out[node.valueLength - 1] = 0;
    *buffer = out;
    if (length) *length = node.valueLength;
    return TRUE;
}
