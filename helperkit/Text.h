// Small text helpers for reading tools' output.
#pragma once

#include <cstddef>
#include <string_view>

namespace qw::Text {

// `text` without the given characters at either end (spaces and tabs by default).
inline std::string_view trimmed(std::string_view text, std::string_view characters = " \t") {
    const auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

// Whether `c` is Unicode white space or a line break: U+0009–U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000–U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
inline bool isWhitespace(char32_t c) {
    if (c <= 0x20) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace detail {

// The code point of the UTF-8 sequence of `n` bytes at `p`; U+FFFD when the bytes do not form one.
inline char32_t decodeAt(std::string_view text, std::size_t p, std::size_t n) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[p + i]); };
    char32_t c = n == 1 ? byte(0) : n == 2 ? byte(0) & 0x1F : n == 3 ? byte(0) & 0x0F : byte(0) & 0x07;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0xFFFD;
        c = c << 6 | (byte(i) & 0x3F);
    }
    return c;
}

inline std::size_t sequenceLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
}

}  // namespace detail

// `text` without Unicode white space and line breaks at either end (see isWhitespace); text that is not
// UTF-8 is cut only at characters that are.
inline std::string_view trimmedWhitespace(std::string_view text) {
    std::size_t first = 0;
    while (first < text.size()) {
        const std::size_t n = detail::sequenceLength(static_cast<unsigned char>(text[first]));
        if (n == 0 || first + n > text.size() || !isWhitespace(detail::decodeAt(text, first, n))) break;
        first += n;
    }
    std::size_t end = text.size();
    while (end > first) {
        std::size_t start = end - 1;
        while (start > first && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const std::size_t n = detail::sequenceLength(static_cast<unsigned char>(text[start]));
        if (n != end - start || !isWhitespace(detail::decodeAt(text, start, n))) break;
        end = start;
    }
    return text.substr(first, end - first);
}

}  // namespace qw::Text
