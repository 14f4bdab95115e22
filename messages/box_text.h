// The text of a box, kept as the pieces it was made of: the program's own
// words, Russian ones in code page 1251, and names the system gave (paths,
// version strings) in the system's ANSI code page. Boxes are shown through
// the Unicode calls, each piece converted from its own code page, so the
// Russian words read as Russian on a system of any code page and a path
// reads as the system writes it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

class BoxText {
public:
    BoxText() = default;
    BoxText(const char* words) : BoxText(std::string(words)) {}  // NOLINT: the program's own words
    BoxText(const std::string& words) { pieces_.push_back({words, ProgramCodePage}); }  // NOLINT

    // A name as the system's ANSI calls gave it.
    static BoxText SystemName(const std::string& name);

    BoxText& operator+=(const BoxText& more);
    friend BoxText operator+(BoxText a, const BoxText& b) { return a += b; }

    // The text in Unicode; nothing when a conversion fails.
    std::optional<std::wstring> Wide() const;
    // The bytes joined, as an ANSI call would take them.
    std::string Bytes() const;

    static constexpr UINT ProgramCodePage = 1251;

private:
    struct Piece {
        std::string bytes;
        UINT codePage;
    };
    std::vector<Piece> pieces_;
};
