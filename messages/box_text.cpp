#include "messages/box_text.h"

#include "platform/code_pages.h"

BoxText BoxText::SystemName(const std::string& name) {
    BoxText text;
    text.pieces_.push_back({name, CP_ACP});
    return text;
}

BoxText& BoxText::operator+=(const BoxText& more) {
    pieces_.insert(pieces_.end(), more.pieces_.begin(), more.pieces_.end());
    return *this;
}

std::optional<std::wstring> BoxText::Wide() const {
    std::wstring text;
    for (const Piece& piece : pieces_) {
        const std::optional<std::wstring> part = ToUnicode(piece.bytes, piece.codePage);
        if (!part) return std::nullopt;
        text += *part;
    }
    return text;
}

std::string BoxText::Bytes() const {
    std::string bytes;
    for (const Piece& piece : pieces_) bytes += piece.bytes;
    return bytes;
}
