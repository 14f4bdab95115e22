// Language-file lookups over arbitrary file contents: the line reader, the
// section match, the continuation and the placeholders. The input is split
// at its first 0xFF byte into the selected file and the fallback file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "tests/sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\xFF');
    const std::string current = input.substr(0, cut);
    const std::string fallback = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    Sim::Reset();
    Sim::pc().files.AddFile("C:\\App\\language\\current.lng", current);
    Sim::pc().files.AddFile("C:\\App\\language\\fallback.lng", fallback);
    SetMessageSettings({.AppFolder = "C:\\App\\"});
    LangUnit::SelectLanguage({"current.lng", "fallback.lng"}, 0, 0x0407, 1, 1, "C:\\App\\language\\current.lng");
    for (const char* key : {"k", "soundquest", "olderfilever", "langver"}) {
        const std::string line = LangUnit::LookupLine(key);
        const std::string text = LangUnit::LookupText(key, false);
        const std::string rest = LangUnit::LookupText(key, true);
        const std::string formatted = LangUnit::LookupFormatted(key, {"%2%1", "B"}, false);
        // Nothing is made up: every value is built from the two files' bytes,
        // a line break at most growing from LF to CR LF.
        if (line.size() > 2 * size + 2 || text.size() > 2 * size + 2 || rest.size() > text.size() + 2) __builtin_trap();
        (void)formatted;
    }
    LangUnit::ReleaseLangUnit();
    if (!Sim::pc().handles.empty()) __builtin_trap();  // every reader closed at the end
    return 0;
}
