// XML property lists, parsed with pugixml. Entities are decoded here rather than by pugixml so that a
// character reference to U+0000 (which strings from binary files may hold) survives the round trip.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <pugixml.hpp>

#include "helperkit/Base64.h"
#include "helperkit/detail/PlistDates.h"
#include "helperkit/detail/PlistFormats.h"

namespace qw::detail {
namespace {

[[noreturn]] void fail(const std::string& message) { throw PlistParseError(message); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The input as quoted in a description: short, and never cut inside a character.
std::string quoted(std::string_view s) {
    constexpr std::size_t longest = 40;
    if (s.size() <= longest) return "“" + std::string(s) + "”";
    std::size_t cut = longest;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return "“" + std::string(s.substr(0, cut)) + "…”";
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// One entity at `s` (just after '&'); returns the characters consumed including ';', or 0.
std::size_t decodeEntity(std::string_view s, std::string& out) {
    const std::size_t semicolon = s.substr(0, 12).find(';');
    if (semicolon == std::string_view::npos || semicolon == 0) return 0;
    const std::string_view name = s.substr(0, semicolon);
    if (name[0] == '#') {
        std::uint32_t code = 0;
        std::string_view digits = name.substr(1);
        int base = 10;
        if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
            base = 16;
            digits.remove_prefix(1);
        }
        if (digits.empty()) return 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, base);
        if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
        appendUtf8(out, code);
        return semicolon + 1;
    }
    static constexpr std::pair<std::string_view, char> named[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (auto [n, c] : named)
        if (name == n) {
            out.push_back(c);
            return semicolon + 1;
        }
    return 0;  // unknown entities are kept as written
}

void appendDecoded(std::string& out, const char* text) {
    std::string_view s(text);
    out.reserve(out.size() + s.size());
    while (!s.empty()) {
        const void* amp = std::memchr(s.data(), '&', s.size());
        if (!amp) {
            out.append(s);
            return;
        }
        const std::size_t at = static_cast<const char*>(amp) - s.data();
        out.append(s.substr(0, at));
        s.remove_prefix(at + 1);
        if (const std::size_t used = decodeEntity(s, out)) s.remove_prefix(used);
        else out.push_back('&');
    }
}

class XmlReader {
public:
    PlistValue value(pugi::xml_node node, int depth) {
        const char* name = node.name();
        switch (name[0]) {
            case 's':
                if (!std::strcmp(name, "string")) return PlistValue(text(node));
                break;
            case 'k':
                if (!std::strcmp(name, "key")) fail("A <key> stands outside a dictionary.");
                break;
            case 'i':
                if (!std::strcmp(name, "integer")) return integer(node);
                break;
            case 'r':
                if (!std::strcmp(name, "real")) return PlistValue(real(node));
                break;
            case 't':
                if (!std::strcmp(name, "true")) return PlistValue(true);
                break;
            case 'f':
                if (!std::strcmp(name, "false")) return PlistValue(false);
                break;
            case 'd':
                if (!std::strcmp(name, "dict")) return dictionary(node, depth + 1);
                if (!std::strcmp(name, "data")) return data(node);
                if (!std::strcmp(name, "date")) return date(node);
                break;
            case 'a':
                if (!std::strcmp(name, "array")) return array(node, depth + 1);
                break;
        }
        fail(std::string("Unknown element <") + name + "> in the property list.");
    }

private:
    static void checkDepth(int depth) {
        if (depth > PlistCodec::maxDepth) fail("The property list is nested too deeply.");
    }

    static std::string text(pugi::xml_node node) {
        std::string out;
        const pugi::xml_node only = node.first_child();
        if (only && only.type() == pugi::node_pcdata && !only.next_sibling()) {
            // The usual case: one run of text, often with nothing to decode.
            const char* value = only.value();
            if (!std::strchr(value, '&')) out.assign(value);
            else appendDecoded(out, value);
            makeValidUtf8(out);
            return out;
        }
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            switch (child.type()) {
                case pugi::node_pcdata: appendDecoded(out, child.value()); break;
                case pugi::node_cdata: out.append(child.value()); break;
                case pugi::node_element:
                    fail(std::string("Unexpected element <") + child.name() + "> inside <" + node.name() + ">.");
                default: break;
            }
        }
        makeValidUtf8(out);
        return out;
    }

    // From -2^63 to 2^64-1, as the platform reads them.
    static PlistValue integer(pugi::xml_node node) {
        const std::string raw = text(node);
        std::string_view s = trimmed(raw);
        bool negative = false;
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
            negative = s[0] == '-';
            s.remove_prefix(1);
        }
        int base = 10;
        if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            base = 16;
            s.remove_prefix(2);
        }
        std::uint64_t magnitude = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
        if (s.empty() || end != s.data() + s.size() || (ec != std::errc() && ec != std::errc::result_out_of_range))
            fail(quoted(raw) + " is not an integer.");
        constexpr std::uint64_t lowest = std::uint64_t(1) << 63;
        if (ec == std::errc::result_out_of_range || (negative && magnitude > lowest))
            fail("The integer " + quoted(raw) + " lies outside the 64-bit range.");
        // Negating in unsigned arithmetic keeps -2^63 defined.
        return negative ? PlistValue(static_cast<std::int64_t>(0 - magnitude)) : PlistValue(magnitude);
    }

    static double real(pugi::xml_node node) {
        const std::string raw = text(node);
        std::string_view s = trimmed(raw);
        bool negative = false;
        if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
            negative = s[0] == '-';
            s.remove_prefix(1);
        }
        if (s.empty() || s[0] == '+' || s[0] == '-') fail(quoted(raw) + " is not a number.");
        double v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (end != s.data() + s.size() || (ec != std::errc() && ec != std::errc::result_out_of_range))
            fail(quoted(raw) + " is not a number.");
        if (ec == std::errc::result_out_of_range) {
            // Too large is infinite, too small is zero, as strtod has it.
            const auto e = s.find_first_of("eE");
            const bool tiny = e != std::string_view::npos && e + 1 < s.size() && s[e + 1] == '-';
            v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        }
        return negative ? -v : v;
    }

    static PlistValue data(pugi::xml_node node) {
        auto bytes = Base64::decodeIgnoringWhitespace(text(node));
        if (!bytes) fail("A <data> element does not hold Base64 text.");
        return PlistValue(std::move(*bytes));
    }

    static PlistValue date(pugi::xml_node node) {
        const std::string raw = text(node);
        auto seconds = parseIsoDate(trimmed(raw));
        if (!seconds) fail(quoted(raw) + " is not a date.");
        return PlistValue(PlistDate{*seconds});
    }

    PlistValue array(pugi::xml_node node, int depth) {
        checkDepth(depth);
        PlistArray items;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
            if (child.type() == pugi::node_element) items.push_back(value(child, depth));
        return PlistValue(std::move(items));
    }

    PlistValue dictionary(pugi::xml_node node, int depth) {
        checkDepth(depth);
        std::vector<PlistDictionary::Entry> entries;
        pugi::xml_node child = node.first_child();
        auto nextElement = [&] {
            while (child && child.type() != pugi::node_element) child = child.next_sibling();
            return child;
        };
        while (nextElement()) {
            if (std::strcmp(child.name(), "key") != 0)
                fail(std::string("A dictionary holds <") + child.name() + "> where a <key> belongs.");
            std::string key = text(child);
            child = child.next_sibling();
            if (!nextElement()) fail("The key " + quoted(key) + " has no value.");
            entries.emplace_back(std::move(key), value(child, depth));
            child = child.next_sibling();
        }
        return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }
};

std::size_t lineOf(std::string_view bytes, std::ptrdiff_t offset) {
    offset = std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(bytes.size()));
    return 1 + static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + offset, '\n'));
}

}  // namespace

PlistCodec::Parsed readXmlPlist(std::string_view bytes) {
    pugi::xml_document document;
    // Comments, processing instructions and the DOCTYPE are skipped; line ends stay as written.
    const unsigned flags = pugi::parse_cdata | pugi::parse_ws_pcdata;
    const pugi::xml_parse_result result =
        document.load_buffer(bytes.data(), bytes.size(), flags, pugi::encoding_auto);
    if (!result)
        fail("The XML is not well formed (line " + std::to_string(lineOf(bytes, result.offset)) +
             "): " + result.description() + ".");
    pugi::xml_node root = document.document_element();
    if (!root) fail("The XML document holds no property list.");
    if (!std::strcmp(root.name(), "plist")) {
        pugi::xml_node top = root.first_child();
        while (top && top.type() != pugi::node_element) top = top.next_sibling();
        if (!top) fail("The <plist> element is empty.");
        root = top;
    }
    XmlReader reader;
    return {reader.value(root, 0), PlistFormat::xml};
}

}  // namespace qw::detail
