// XML property lists, parsed with pugixml. Entities are decoded here rather than by pugixml so that a
// character reference to U+0000 (which strings from binary files may hold) survives the round trip.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>
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

std::size_t lineOf(std::string_view bytes, std::ptrdiff_t offset) {
    offset = std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(bytes.size()));
    return 1 + static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + offset, '\n'));
}

// Text between values: whitespace, or something a save would silently drop.
bool isStrayText(pugi::xml_node node) {
    if (node.type() != pugi::node_pcdata && node.type() != pugi::node_cdata) return false;
    const std::string_view value = node.value();
    return !std::all_of(value.begin(), value.end(), isSpace);
}

class XmlReader {
public:
    // Offsets point into `bytes` only when the parser did not have to convert them.
    XmlReader(std::string_view bytes, bool locatable) : bytes_(bytes), locatable_(locatable) {}

    PlistValue value(pugi::xml_node node, int depth) {
        const char* name = node.name();
        switch (name[0]) {
            case 's':
                if (!std::strcmp(name, "string")) return PlistValue(text(node));
                break;
            case 'k':
                if (!std::strcmp(name, "key")) failAt(node, "A <key> stands outside a dictionary");
                break;
            case 'i':
                if (!std::strcmp(name, "integer")) return integer(node);
                break;
            case 'r':
                if (!std::strcmp(name, "real")) return PlistValue(real(node));
                break;
            case 't':
                if (!std::strcmp(name, "true")) return onlyValue(node, {}), PlistValue(true);
                break;
            case 'f':
                if (!std::strcmp(name, "false")) return onlyValue(node, {}), PlistValue(false);
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
        failAt(node, std::string("Unknown element <") + name + "> in the property list");
    }

    // Anything but blanks and comments beside `value` (none for <true/>): the platform refuses it, and
    // a save would drop it.
    void onlyValue(pugi::xml_node container, pugi::xml_node value) const {
        for (pugi::xml_node child = container.first_child(); child; child = child.next_sibling()) {
            if (child == value) continue;
            if (child.type() == pugi::node_element)
                failAt(child, std::string("<") + child.name() + "> is not part of the property list");
            if (isStrayText(child)) stray(child);
        }
    }

private:
    [[noreturn]] void failAt(pugi::xml_node node, const std::string& message) const {
        std::ptrdiff_t offset = locatable_ ? node.offset_debug() : -1;
        if (offset < 0) fail(message + ".");
        // Text starts with the blanks before it; its line is the one its first visible character is on.
        if (node.type() != pugi::node_element)
            for (const char* c = node.value(); *c && isSpace(*c); ++c) ++offset;
        fail(message + " (line " + std::to_string(lineOf(bytes_, offset)) + ").");
    }

    [[noreturn]] void stray(pugi::xml_node node) const {
        const std::string_view text = trimmed(node.value());
        const std::size_t lineEnd = text.find_first_of("\r\n");
        const std::string shown = lineEnd == std::string_view::npos ? quoted(text) : quoted(std::string(text.substr(0, lineEnd)) + "…");
        failAt(node, shown + " is not part of the property list");
    }

    void checkDepth(pugi::xml_node node, int depth) const {
        if (depth > PlistCodec::maxDepth) failAt(node, "The property list is nested too deeply");
    }

    std::string text(pugi::xml_node node) const {
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
                    failAt(child, std::string("Unexpected element <") + child.name() + "> inside <" + node.name() + ">");
                default: break;
            }
        }
        makeValidUtf8(out);
        return out;
    }

    // From -2^63 to 2^64-1, as the platform reads them.
    PlistValue integer(pugi::xml_node node) const {
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
            failAt(node, quoted(raw) + " is not an integer");
        constexpr std::uint64_t lowest = std::uint64_t(1) << 63;
        if (ec == std::errc::result_out_of_range || (negative && magnitude > lowest))
            failAt(node, "The integer " + quoted(raw) + " lies outside the 64-bit range");
        // Negating in unsigned arithmetic keeps -2^63 defined.
        return negative ? PlistValue(static_cast<std::int64_t>(0 - magnitude)) : PlistValue(magnitude);
    }

    double real(pugi::xml_node node) const {
        const std::string raw = text(node);
        std::string_view s = trimmed(raw);
        bool negative = false;
        if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
            negative = s[0] == '-';
            s.remove_prefix(1);
        }
        if (s.empty() || s[0] == '+' || s[0] == '-') failAt(node, quoted(raw) + " is not a number");
        double v = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (end != s.data() + s.size() || (ec != std::errc() && ec != std::errc::result_out_of_range))
            failAt(node, quoted(raw) + " is not a number");
        if (ec == std::errc::result_out_of_range) {
            // Too large is infinite, too small is zero, as strtod has it.
            const auto e = s.find_first_of("eE");
            const bool tiny = e != std::string_view::npos && e + 1 < s.size() && s[e + 1] == '-';
            v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        }
        return negative ? -v : v;
    }

    PlistValue data(pugi::xml_node node) const {
        auto bytes = Base64::decodeIgnoringWhitespace(text(node));
        if (!bytes) failAt(node, "A <data> element does not hold Base64 text");
        return PlistValue(std::move(*bytes));
    }

    PlistValue date(pugi::xml_node node) const {
        const std::string raw = text(node);
        auto seconds = parseIsoDate(trimmed(raw));
        if (!seconds) failAt(node, quoted(raw) + " is not a date");
        return PlistValue(PlistDate{*seconds});
    }

    PlistValue array(pugi::xml_node node, int depth) {
        checkDepth(node, depth);
        PlistArray items;
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (child.type() == pugi::node_element) items.push_back(value(child, depth));
            else if (isStrayText(child)) stray(child);
        }
        return PlistValue(std::move(items));
    }

    PlistValue dictionary(pugi::xml_node node, int depth) {
        checkDepth(node, depth);
        std::vector<PlistDictionary::Entry> entries;
        pugi::xml_node child = node.first_child();
        auto nextElement = [&] {
            while (child && child.type() != pugi::node_element) {
                if (isStrayText(child)) stray(child);
                child = child.next_sibling();
            }
            return child;
        };
        while (nextElement()) {
            if (std::strcmp(child.name(), "key") != 0)
                failAt(child, std::string("A dictionary holds <") + child.name() + "> where a <key> belongs");
            const pugi::xml_node keyNode = child;
            std::string key = text(child);
            child = child.next_sibling();
            if (!nextElement()) failAt(keyNode, "The key " + quoted(key) + " has no value");
            entries.emplace_back(std::move(key), value(child, depth));
            child = child.next_sibling();
        }
        return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }

    std::string_view bytes_;
    bool locatable_;
};

std::string_view nameAt(std::string_view s, std::size_t at) {
    std::size_t end = at;
    while (end < s.size() && !isSpace(s[end]) && s[end] != '>' && s[end] != '/' && s[end] != '<') ++end;
    return s.substr(at, end - at);
}

using OpenElements = std::vector<std::pair<std::string_view, std::size_t>>;

// The elements still open, with where each starts, at `end`: the tags before it, which the parser has
// already accepted. None where this walk and the parser would disagree.
std::optional<OpenElements> openElementsBefore(std::string_view s, std::size_t end) {
    OpenElements open;
    auto past = [&](std::size_t from, std::string_view token) {
        const std::size_t at = s.find(token, from);
        return at == std::string_view::npos ? s.size() : at + token.size();
    };
    std::size_t i = 0;
    while ((i = s.find('<', i)) < end) {
        const std::string_view rest = s.substr(i);
        if (rest.starts_with("<!--")) {
            i = past(i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = past(i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = past(i + 2, "?>");
        } else if (rest.starts_with("<!")) {  // a DOCTYPE, perhaps with an internal subset
            int depth = 0;
            for (++i; i < s.size() && (s[i] != '>' || depth > 0); ++i) depth += s[i] == '[' ? 1 : s[i] == ']' ? -1 : 0;
            ++i;
        } else {
            const bool closing = rest.size() > 1 && rest[1] == '/';
            const std::string_view name = nameAt(s, i + 1 + (closing ? 1 : 0));
            std::size_t k = i + 1;
            for (char quote = 0; k < s.size() && (quote || s[k] != '>'); ++k)
                if (quote ? s[k] == quote : (s[k] == '"' || s[k] == '\'')) quote = quote ? 0 : s[k];
            if (k >= end || name.empty()) return std::nullopt;
            if (closing) {
                if (open.empty() || open.back().first != name) return std::nullopt;
                open.pop_back();
            } else if (s[k - 1] != '/') {
                open.emplace_back(name, i);
            }
            i = k + 1;
        }
    }
    return open;
}

// A closing tag that belongs to an element further out means the one inside was left open: that one
// is the mistake, not the line the parser noticed it on.
std::optional<std::string> unclosedElement(std::string_view bytes, std::size_t offset) {
    // The parser reports running out of text on the last character.
    const bool atEnd = offset + 1 >= bytes.size();
    const std::size_t tag = atEnd ? bytes.size() : bytes.rfind("</", offset);
    if (tag == std::string_view::npos) return std::nullopt;
    const auto open = openElementsBefore(bytes, tag);
    if (!open || open->empty()) return std::nullopt;
    if (!atEnd) {
        const std::string_view closing = nameAt(bytes, tag + 2);
        if (std::none_of(open->begin(), open->end() - 1, [&](const auto& e) { return e.first == closing; }))
            return std::nullopt;
    }
    const auto& [name, at] = open->back();
    return "<" + std::string(name) + "> is never closed (line " +
           std::to_string(lineOf(bytes, static_cast<std::ptrdiff_t>(at))) + ").";
}

}  // namespace

PlistCodec::Parsed readXmlPlist(std::string_view bytes) {
    pugi::xml_document document;
    // Comments, processing instructions and the DOCTYPE are skipped; line ends stay as written. Read as
    // a fragment, text outside the root element is kept, so that it can be refused rather than lost.
    const unsigned flags = pugi::parse_cdata | pugi::parse_ws_pcdata | pugi::parse_fragment;
    const pugi::xml_parse_result result =
        document.load_buffer(bytes.data(), bytes.size(), flags, pugi::encoding_auto);
    const bool locatable = result.encoding == pugi::encoding_utf8;
    if (!result) {
        if (result.status == pugi::status_end_element_mismatch && locatable)
            if (auto unclosed = unclosedElement(bytes, static_cast<std::size_t>(result.offset))) fail(*unclosed);
        fail("The XML is not well formed (line " + std::to_string(lineOf(bytes, result.offset)) +
             "): " + result.description() + ".");
    }
    const pugi::xml_node outermost = document.document_element();
    if (!outermost) fail("The XML document holds no property list.");
    XmlReader reader(bytes, locatable);
    reader.onlyValue(document, outermost);
    pugi::xml_node root = outermost;
    if (!std::strcmp(root.name(), "plist")) {
        pugi::xml_node top = root.first_child();
        while (top && top.type() != pugi::node_element) top = top.next_sibling();
        if (!top) fail("The <plist> element is empty.");
        reader.onlyValue(root, top);
        root = top;
    }
    return {reader.value(root, 0), PlistFormat::xml};
}

}  // namespace qw::detail
