#include "runtime/text.h"

#include <charconv>

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return text;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    return text;
}

namespace {
bool Control(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string Trim(std::string_view text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && Control(text[begin])) ++begin;
    while (end > begin && Control(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

bool IsBlank(std::string_view text) {
    for (char c : text)
        if (!Control(c)) return false;
    return true;
}

std::string HexUpper(unsigned value, int digits) {
    char buffer[16];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
    std::string text(buffer, end);
    if (int(text.size()) < digits) text.insert(0, std::size_t(digits) - text.size(), '0');
    return UpperAscii(text);
}

void AddTrailingBackslash(std::string& path) {
    if (!path.empty() && path.back() != '\\') path += '\\';
}
