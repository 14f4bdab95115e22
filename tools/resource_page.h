// Where the resource section's bytes stand in a linked image file.
//
// A loader maps a section straight from the file only when the section's
// bytes start at a page boundary there; otherwise it reads them into private
// memory (Wine does, section by section). The installer's resource section
// carries the 28 MB payload, so its bytes must start on a page. The other
// sections are small: at the linker's 512-byte alignment each wastes at most
// 511 bytes of the file instead of most of a page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ResourcePage {

inline constexpr std::uint32_t PageSize = 0x1000;

// Moves the bytes of the resource section, and all that follows them in the
// file, to the next page boundary, fills the gap with zeros and clears the
// header checksum, which the move makes wrong (0 is "none", which a program
// may carry; signing sets it anew). Returns true with `moved` set to the
// bytes inserted, 0 when the section already starts on a page. Returns false
// with the reason in `error`, the bytes unchanged, for anything but a
// well-formed image with a resource section, and for an image holding file
// offsets the move would break: a certificate table (sign after this
// step), a debug directory or a COFF symbol table (link with -s).
bool PlaceResourcesOnPage(std::vector<std::uint8_t>& image, std::uint32_t& moved, std::string& error);

}  // namespace ResourcePage
