// The folder of an UninstallString value, for any value a registry can hold:
// when there is one, it is a prefix of the (unquoted) value ending in a
// backslash, and never the whole value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "environment/install_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string value(reinterpret_cast<const char*>(data), size);
    const auto folder = UninstallStringFolder(value);
    if (!folder) return 0;
    const std::string path = !value.empty() && value[0] == '"' ? value.substr(1) : value;
    if (folder->empty() || folder->back() != '\\') __builtin_trap();
    if (folder->size() >= path.size()) __builtin_trap();
    if (path.compare(0, folder->size(), *folder) != 0) __builtin_trap();
    return 0;
}
