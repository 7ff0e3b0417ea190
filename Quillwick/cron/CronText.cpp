#include "Quillwick/cron/CronText.h"

#include <locale.h>
#include <wctype.h>

#include <limits>

namespace qw::CronText {

namespace {

// glibc's C.UTF-8 carries the Unicode character classes; its "alpha" class also holds the digits of
// other scripts and the letter numbers.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::optional<char32_t> decode(std::string_view text, std::size_t at, std::size_t& length) {
    length = 1;
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t size = sequenceLength(lead);
    if (size == 1) return lead;
    if (size == 0 || at + size > text.size()) return std::nullopt;
    char32_t c = lead & (0xFF >> (size + 1));
    for (std::size_t k = 1; k < size; ++k) {
        const auto b = static_cast<unsigned char>(text[at + k]);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[size] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
    length = size;
    return c;
}

bool isWhiteSpace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isNameCharacter(char32_t c) {
    if (c < 0x80)
        return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const locale_t locale = unicodeLocale();
    if (locale == static_cast<locale_t>(nullptr)) return false;
    const auto wide = static_cast<wint_t>(c);
    return iswalpha_l(wide, locale) || iswdigit_l(wide, locale);
}

std::string_view trimmedStart(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t length = 0;
        const auto c = decode(text, begin, length);
        if (!c || !isWhiteSpace(*c)) break;
        begin += length;
    }
    return text.substr(begin);
}

std::string_view trimmed(std::string_view text) {
    text = trimmedStart(text);
    std::size_t end = text.size();
    while (end > 0) {
        // The last character starts at most three bytes back, after its continuation bytes.
        std::size_t start = end - 1;
        while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t length = 0;
        const auto c = decode(text, start, length);
        if (!c || start + length != end || !isWhiteSpace(*c)) break;
        end = start;
    }
    return text.substr(0, end);
}

std::string lowercased(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const locale_t locale = unicodeLocale();
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const auto c = decode(text, at, length);
        if (!c) {
            out += text[at];
        } else if (*c < 0x80) {
            out += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
        } else if (locale != static_cast<locale_t>(nullptr)) {
            append(out, static_cast<char32_t>(towlower_l(static_cast<wint_t>(*c), locale)));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::optional<std::int64_t> integerValue(std::string_view text, bool allowMinus) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || (allowMinus && text[0] == '-'))) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulated on the negative side, which holds one value more.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        const int digit = ch - '0';
        if (value < (lowest + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == lowest) return std::nullopt;
        value = -value;
    }
    return value;
}

}  // namespace qw::CronText
