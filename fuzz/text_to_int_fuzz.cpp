// The text-to-integer rule on arbitrary text: a plain decimal number must
// agree with the standard conversion, and a failure leaves the value as it was.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/text_to_int.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::int32_t value = 12345;
    const bool ok = TextToInt(text, value);
    if (!ok && value != 12345) __builtin_trap();
    bool digitsOnly = !text.empty();
    for (char c : text) digitsOnly &= c >= '0' && c <= '9';
    if (digitsOnly) {
        std::int32_t expected = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), expected);
        const bool fits = error == std::errc() && end == text.data() + text.size();
        if (ok != fits || (ok && value != expected)) __builtin_trap();
    }
    return 0;
}
