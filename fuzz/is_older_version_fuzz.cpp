// Comparing two version texts split from the input at its first newline:
// never a crash, and a version is never older than itself.
#include <cstddef>
#include <cstdint>
#include <string>

#include "install/version_probes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\n');
    const std::string a = input.substr(0, cut);
    const std::string b = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    IsOlderVersion(a, b);
    IsOlderVersion(b, a);
    if (IsOlderVersion(a, a)) __builtin_trap();
    return 0;
}
