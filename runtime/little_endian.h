// Numbers stored low byte first, as every field of an executable image and
// of the application's data files is, read from bytes whatever the order
// of the machine that reads them.
#pragma once

#include <cstdint>

inline std::uint16_t ReadLittleEndian16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

inline std::uint32_t ReadLittleEndian32(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}
