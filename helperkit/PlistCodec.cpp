#include "helperkit/PlistCodec.h"

#include <cstdint>
#include <cstring>

#include "helperkit/Utf8.h"
#include "helperkit/detail/PlistFormats.h"

namespace qw {
namespace detail {

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendUtf16(std::string& out, const char16_t* units, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, c);  // a lone surrogate becomes U+FFFD there
    }
}

void makeValidUtf8(std::string& text) {
    // Nearly all text is ASCII: test eight bytes at a time before the full check.
    const char* p = text.data();
    std::size_t n = text.size(), i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    for (; i < n; ++i)
        if (static_cast<unsigned char>(p[i]) >= 0x80) {
            if (!Utf8::isValid(text)) text = Utf8::sanitized(text);
            return;
        }
}

}  // namespace detail

namespace PlistCodec {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The text with its byte-order mark dropped and UTF-16 or UTF-32 turned into UTF-8, for detection and
// the text reader.
std::string_view normalizedText(std::string_view bytes, std::string& storage) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return bytes.substr(3);
    // Before UTF-16: the little-endian UTF-32 mark begins with the UTF-16 one.
    using namespace std::string_view_literals;
    if (bytes.substr(0, 4) == "\x00\x00\xFE\xFF"sv || bytes.substr(0, 4) == "\xFF\xFE\x00\x00"sv) {
        const bool bigEndian = bytes[0] == '\0';
        if (bytes.size() % 4 != 0) throw PlistParseError("The UTF-32 text ends in the middle of a character.");
        storage.reserve(bytes.size() / 4);
        for (std::size_t i = 4; i < bytes.size(); i += 4) {
            char32_t c = 0;
            for (std::size_t k = 0; k < 4; ++k)
                c = c << 8 | static_cast<unsigned char>(bytes[bigEndian ? i + k : i + 3 - k]);
            detail::appendUtf8(storage, c);  // beyond U+10FFFF or a surrogate becomes U+FFFD there
        }
        return storage;
    }
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFE\xFF" || bytes.substr(0, 2) == "\xFF\xFE")) {
        const bool bigEndian = bytes[0] == '\xFE';
        if (bytes.size() % 2 != 0) throw PlistParseError("The UTF-16 text ends in the middle of a character.");
        std::u16string units;
        units.reserve(bytes.size() / 2 - 1);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
            const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
            units.push_back(static_cast<char16_t>(hi << 8 | lo));
        }
        detail::appendUtf16(storage, units.data(), units.size());
        return storage;
    }
    return bytes;
}

// "<0fbd 77e1>" is old-style data, "<dict>" an XML tag: both may start with a hex digit.
bool isOldStyleData(std::string_view afterBracket) {
    const std::size_t end = afterBracket.find_first_not_of("0123456789abcdefABCDEF \t\r\n");
    return end != std::string_view::npos && afterBracket[end] == '>';
}

Parsed detectAndRead(std::string_view bytes) {
    if (bytes.empty()) throw PlistParseError("The data is empty.");
    if (bytes.substr(0, 6) == "bplist") {
        if (bytes.substr(0, 8) != "bplist00") throw PlistParseError("Unknown binary property-list version.");
        return detail::readBinaryPlist(bytes);
    }
    // UTF-16 and UTF-32 XML without a byte-order mark: the XML parser tells them from the first characters.
    if (bytes.size() >= 4 && ((bytes[0] == '<' && bytes[1] == 0) || (bytes[0] == 0 && bytes[1] == '<') ||
                              bytes.substr(0, 4) == std::string_view("\0\0\0<", 4)))
        return detail::readXmlPlist(bytes);
    std::string storage;
    const std::string_view text = normalizedText(bytes, storage);
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i + 1 < text.size() && text[i] == '<' && !isOldStyleData(text.substr(i + 1))) {
        const char next = text[i + 1];
        if (next == '?' || next == '!' || (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z'))
            return detail::readXmlPlist(bytes);
    }
    return detail::readTextPlist(text);
}

template <typename T>
std::string writeAs(const T& value, PlistFormat format) {
    switch (format) {
        case PlistFormat::xml: return writeXml(value);
        case PlistFormat::binary: return writeBinary(value);
        case PlistFormat::openStep: break;
    }
    throw PlistWriteError("Property lists cannot be written in the old text format.");
}

}  // namespace

Parsed read(std::string_view bytes) {
    try {
        return detectAndRead(bytes);
    } catch (const PlistParseError& e) {
        // Descriptions quote the input, which need not be UTF-8; they end up in JSON and on screen.
        if (!Utf8::isValid(e.what())) throw PlistParseError(Utf8::sanitized(e.what()));
        throw;
    }
}

std::string write(const PlistValue& value, PlistFormat format) { return writeAs(value, format); }
std::string write(const PlistDictionary& root, PlistFormat format) { return writeAs(root, format); }

}  // namespace PlistCodec
}  // namespace qw
