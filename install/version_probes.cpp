#include "install/version_probes.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "platform/files.h"
#include "platform/owned_handle.h"
#include "platform/system_library.h"
#include "platform/win32.h"
#include "runtime/little_endian.h"
#include "runtime/text.h"
#include "runtime/text_reader.h"
#include "runtime/text_to_int.h"

namespace {

// Little-endian, `width` bytes at `offset`; 0 on any failure.
std::int32_t ProbeField(const std::string& path, LONGLONG offset, DWORD width) {
    if (!IsExistingFile(path)) return 0;
    TOwnedFile file(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    unsigned char field[4] = {0, 0, 0, 0};
    DWORD read = 0;
    if (!SetFilePointerEx(file.Get(), distance, nullptr, FILE_BEGIN) ||
        !ReadFile(file.Get(), field, width, &read, nullptr) || read != width)
        return 0;
    return std::int32_t(ReadLittleEndian32(field));
}

// version.dll, from the system folder only: the installer runs elevated,
// often from a downloads folder where a planted version.dll could sit.
class VersionLibrary {
public:
    VersionLibrary() : library_(LoadSystemLibrary("version.dll")) {
        if (!library_) return;
        size = LookupFunction<decltype(&GetFileVersionInfoSizeA)>(library_.Get(), "GetFileVersionInfoSizeA");
        info = LookupFunction<decltype(&GetFileVersionInfoA)>(library_.Get(), "GetFileVersionInfoA");
        query = LookupFunction<decltype(&VerQueryValueA)>(library_.Get(), "VerQueryValueA");
    }
    bool Usable() const { return size && info && query; }

    decltype(&GetFileVersionInfoSizeA) size = nullptr;
    decltype(&GetFileVersionInfoA) info = nullptr;
    decltype(&VerQueryValueA) query = nullptr;

private:
    TOwnedModule library_;
};

// Takes the part of `text` before its first dot, when there is a dot that
// is not the first character, and removes that part and the dot.
bool CutComponent(std::string& text, std::string& component) {
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0) return false;
    component = text.substr(0, dot);
    text.erase(0, dot + 1);
    return true;
}

}  // namespace

std::int32_t ProbePakVersion(const std::string& path) { return ProbeField(path, 6, 2); }
std::int32_t ProbeCokVersion(const std::string& path) { return ProbeField(path, 5, 2); }
std::int32_t Probe3bsVersion(const std::string& path) { return ProbeField(path, 6, 1); }

std::int32_t ProbeLngVersion(const std::string& path) {
    if (!IsExistingFile(path)) return 0;
    TTextReader reader;
    try {
        reader.Bind(path);
        reader.Open();
        std::string value;
        while (true) {
            const std::string line = reader.ReadLine();
            if (LangUnit::IsSectionLine(line, "langver")) {
                value = reader.ReadLine();
                break;
            }
            if (reader.Eof()) {
                value = line;
                break;
            }
        }
        std::int32_t version = 0;
        // The value as read: a blank after the number makes it no number.
        if (!TextToInt(value, version)) throw Exception("Not a version number: " + value);
        reader.Close();
        return version;
    } catch (const Exception&) {
        reader.Close();
        ShowError("Can't handle the language support file " + BoxText::SystemName(path),
                  "Не удаётся работать с файлом языковой поддержки " + BoxText::SystemName(path));
        return 0;
    }
}

std::string FileVersionString(const std::string& path) {
    SHFILEINFOA shellInfo;
    std::memset(&shellInfo, 0, sizeof shellInfo);
    if (SHGetFileInfoA(path.c_str(), 0, &shellInfo, sizeof shellInfo, SHGFI_EXETYPE) == 0) return std::string();
    VersionLibrary version;
    if (!version.Usable()) return std::string();
    DWORD handle = 0;
    const DWORD size = version.size(path.c_str(), &handle);
    if (size == 0) return std::string();
    std::vector<char> block;
    try {
        block.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
    if (!version.info(path.c_str(), handle, size, block.data())) return std::string();
    const char* const end = block.data() + block.size();
    void* found = nullptr;
    UINT length = 0;
    if (!version.query(block.data(), "\\VarFileInfo\\Translation", &found, &length) || length < 4 || !found)
        return std::string();
    DWORD translation;
    std::memcpy(&translation, found, sizeof translation);
    const std::string query =
        "\\StringFileInfo\\" + HexUpper(translation & 0xFFFF, 4) + HexUpper(translation >> 16, 4) + "\\FileVersion";
    found = nullptr;
    if (!version.query(block.data(), query.c_str(), &found, &length) || !found) return std::string();
    // The text lies inside the block; never read past its end.
    const char* text = static_cast<const char*>(found);
    if (text < block.data() || text >= end) return std::string();
    const void* terminator = std::memchr(text, 0, std::size_t(end - text));
    return std::string(text, terminator ? static_cast<const char*>(terminator) : end);
}

// Rule for a version without a leading number and dot (no dot at all, a dot
// in first place, or empty text): in the first pass that side's component is
// its whole text, converted as every component is. So "7" compares as 7,
// and text that is no number fails as a component does: an empty or
// unreadable new version counts as older (the user is asked), an unreadable
// installed one as not newer.
bool IsOlderVersion(const std::string& newVersion, const std::string& installedVersion) {
    std::string fresh = newVersion, installed = installedVersion, component;
    std::int32_t freshValue = 0, installedValue = 0;
    bool older = false;
    for (int pass = 0; pass < 3; ++pass) {
        // A side without a dot keeps the value it had in the pass before.
        if (CutComponent(installed, component)) {
            if (!TextToInt(component, installedValue)) return older;
        } else if (pass == 0 && !TextToInt(installed, installedValue)) {
            return older;
        }
        if (CutComponent(fresh, component)) {
            if (!TextToInt(component, freshValue)) return true;
        } else if (pass == 0 && !TextToInt(fresh, freshValue)) {
            return true;
        }
        older = installedValue > freshValue;
        if (installedValue != freshValue) return older;
    }
    if (!TextToInt(installed, installedValue)) return older;
    if (!TextToInt(fresh, freshValue)) return true;
    return installedValue > freshValue;
}
