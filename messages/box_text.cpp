#include "messages/box_text.h"

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
        if (piece.bytes.empty()) continue;
        const int length =
            MultiByteToWideChar(piece.codePage, 0, piece.bytes.data(), int(piece.bytes.size()), nullptr, 0);
        if (length <= 0) return std::nullopt;
        std::wstring part(std::size_t(length), L'\0');
        if (MultiByteToWideChar(piece.codePage, 0, piece.bytes.data(), int(piece.bytes.size()), part.data(), length) !=
            length)
            return std::nullopt;
        text += part;
    }
    return text;
}

std::string BoxText::Bytes() const {
    std::string bytes;
    for (const Piece& piece : pieces_) bytes += piece.bytes;
    return bytes;
}
