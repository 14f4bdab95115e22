// The one rule by which text becomes a number anywhere in the installer.
#pragma once

#include <cstdint>
#include <string_view>

// Leading spaces are skipped; an optional "-" or "+" follows; then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing
// may follow the digits, not even a blank. A decimal value must lie within
// the signed 32-bit range; a hexadecimal one is a 32-bit pattern (FFFFFFFF
// is -1). False, with `value` untouched, for anything else: empty text, a
// sign or prefix without digits, any other character, an overflow.
bool TextToInt(std::string_view text, std::int32_t& value);
