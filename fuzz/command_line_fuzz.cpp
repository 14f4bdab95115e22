// Command-line splitting on arbitrary bytes, and its invariants: no word
// holds a quote, and no word holds a separator unless quoting put it there.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::size_t total = 0;
    bool quoted = line.find('"') != std::string_view::npos;
    for (const std::string& word : SplitCommandLine(line)) {
        if (word.find('"') != std::string::npos) __builtin_trap();
        if (!quoted)
            for (char c : word)
                if (static_cast<unsigned char>(c) <= ' ') __builtin_trap();
        total += word.size();
    }
    if (total > size) __builtin_trap();
    return 0;
}
