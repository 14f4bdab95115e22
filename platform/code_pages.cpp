#include "platform/code_pages.h"

std::optional<std::wstring> ToUnicode(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage, 0, bytes.data(), size, text.data(), length) != length) return std::nullopt;
    return text;
}

std::optional<std::string> FromUnicode(const std::wstring& text, UINT codePage) {
    if (text.empty()) return std::string();
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(codePage, 0, text.data(), size, bytes.data(), length, nullptr, nullptr) != length)
        return std::nullopt;
    return bytes;
}
