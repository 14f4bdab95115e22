// Text rules shared by the whole installer. Texts are 8-bit ANSI strings;
// only the ASCII letters change case, so Cyrillic letters compare exactly.
#pragma once

#include <string>
#include <string_view>

std::string LowerAscii(std::string text);
std::string UpperAscii(std::string text);
// Removes characters of code 32 or below at both ends.
std::string Trim(std::string_view text);
// Empty, or only characters of code 32 or below.
bool IsBlank(std::string_view text);
// Appends a backslash to a non-empty path that lacks one: every folder path
// the installer keeps ends in one, unless it is empty.
void AddTrailingBackslash(std::string& path);
// Upper-case hexadecimal, at least `digits` digits with leading zeros.
// (Formatting numbers without printf keeps the C runtime's whole printf,
// floating point included, out of the executable.)
std::string HexUpper(unsigned value, int digits = 1);
