#include "helperkit/Utf8.h"

#include <cstdint>

namespace qw::Utf8 {

namespace {

// What a lead byte promises: the sequence's length and the range its second byte must lie in
// (narrower after E0, ED, F0 and F4, which rules out overlong forms, surrogates and values above
// U+10FFFF). Length 0 for a byte that cannot start a multi-byte sequence.
struct Lead {
    std::size_t length = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;
};

Lead lead(std::uint8_t b0) {
    Lead l;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        l.length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        l.length = 3;
        if (b0 == 0xE0) l.lo = 0xA0;
        if (b0 == 0xED) l.hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        l.length = 4;
        if (b0 == 0xF0) l.lo = 0x90;
        if (b0 == 0xF4) l.hi = 0x8F;
    }
    return l;
}

// How many bytes from `i` continue the sequence its lead byte starts (the lead byte counts).
std::size_t validPrefix(std::string_view s, std::size_t i, const Lead& l) {
    std::size_t k = 1;
    for (; k < l.length && i + k < s.size(); ++k) {
        const auto b = static_cast<std::uint8_t>(s[i + k]);
        if (b < (k == 1 ? l.lo : 0x80) || b > (k == 1 ? l.hi : 0xBF)) break;
    }
    return k;
}

// Length of the well-formed sequence starting at `i`, or 0 when it is not one.
std::size_t sequenceLength(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<std::uint8_t>(s[i]);
    if (b0 < 0x80) return 1;
    const Lead l = lead(b0);
    if (l.length == 0) return 0;
    return validPrefix(s, i, l) == l.length ? l.length : 0;
}

// How many bytes of an ill-formed sequence one U+FFFD stands for: the longest prefix of a
// well-formed sequence (the "maximal subpart"), at least one byte.
std::size_t maximalSubpart(std::string_view s, std::size_t i) {
    const Lead l = lead(static_cast<std::uint8_t>(s[i]));
    return l.length == 0 ? 1 : validPrefix(s, i, l);
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
