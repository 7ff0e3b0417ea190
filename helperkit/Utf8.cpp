#include "helperkit/Utf8.h"

#include <cstdint>

namespace qw::Utf8 {

namespace {

// Length of the well-formed sequence starting at `i`, or 0 when it is not one (overlong forms,
// surrogates and values above U+10FFFF included). Follows the Unicode table of well-formed sequences.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    if (b0 < 0x80) return 1;
    std::size_t length = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    const std::uint8_t b1 = byte(i + 1);
    if (b1 < lo || b1 > hi) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        const std::uint8_t b = byte(i + k);
        if (b < 0x80 || b > 0xBF) return 0;
    }
    return length;
}

// How many bytes of an ill-formed sequence one U+FFFD stands for: the longest prefix of a
// well-formed sequence (the "maximal subpart"), at least one byte.
std::size_t maximalSubpart(std::string_view s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    std::size_t length = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 1;
    }
    std::size_t k = 1;
    for (; k < length && i + k < s.size(); ++k) {
        const std::uint8_t b = byte(i + k);
        const std::uint8_t l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
        if (b < l || b > h) break;
    }
    return k;
}

constexpr std::string_view replacement = "\xEF\xBF\xBD";

}  // namespace

bool isValid(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string sanitized(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Copy valid runs in one go; command output is almost always valid.
        const std::size_t start = i;
        std::size_t n;
        while (i < bytes.size() && (n = sequenceLength(bytes, i)) != 0) i += n;
        out.append(bytes.substr(start, i - start));
        if (i < bytes.size()) {
            out.append(replacement);
            i += maximalSubpart(bytes, i);
        }
    }
    return out;
}

}  // namespace qw::Utf8
