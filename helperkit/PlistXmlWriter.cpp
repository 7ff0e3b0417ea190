// XML in the platform's layout: the declaration and DOCTYPE, tab indentation, <key>/<value> pairs, empty
// containers as <array/> and <dict/>, Base64 data on lines of its own, a final line feed.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "helperkit/Base64.h"
#include "helperkit/Utf8.h"
#include "helperkit/detail/PlistDates.h"
#include "helperkit/detail/PlistFormats.h"

namespace qw {
namespace {

constexpr std::string_view header =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

// 1: escaped, 2: may start a byte sequence that is not UTF-8.
constexpr auto characterClasses = [] {
    std::array<std::uint8_t, 256> t{};
    t['&'] = t['<'] = t['>'] = t[0] = 1;
    for (int c = 0x80; c < 256; ++c) t[c] = 2;
    return t;
}();

class XmlWriter {
public:
    explicit XmlWriter(std::string& out) : out_(out) {}

    void value(const PlistValue& v, int depth) {
        std::visit([&](const auto& x) { write(x, depth); }, v.storage());
    }

    void write(const PlistDictionary& dict, int depth) {
        checkDepth(depth);
        indent(depth);
        if (dict.empty()) {
            out_.append("<dict/>\n");
            return;
        }
        out_.append("<dict>\n");
        for (const auto& [key, v] : dict) {
            indent(depth + 1);
            out_.append("<key>");
            escaped(key);
            out_.append("</key>\n");
            value(v, depth + 1);
        }
        indent(depth);
        out_.append("</dict>\n");
    }

private:
    void indent(int depth) { out_.append(static_cast<std::size_t>(depth), '\t'); }

    void escaped(std::string_view s) {
        unsigned seen = 0;
        for (unsigned char c : s) seen |= characterClasses[c];
        if (seen & 2) {
            if (!Utf8::isValid(s)) {
                const std::string valid = Utf8::sanitized(s);
                escaped(valid);
                return;
            }
        }
        if (!(seen & 1)) {
            out_.append(s);
            return;
        }
        std::size_t from = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const char c = s[i];
            if (characterClasses[static_cast<unsigned char>(c)] != 1) continue;
            out_.append(s.substr(from, i - from));
            switch (c) {
                case '&': out_.append("&amp;"); break;
                case '<': out_.append("&lt;"); break;
                case '>': out_.append("&gt;"); break;
                default: out_.append("&#0;"); break;  // XML has no literal NUL
            }
            from = i + 1;
        }
        out_.append(s.substr(from));
    }

    void element(int depth, std::string_view open, std::string_view text, std::string_view close) {
        indent(depth);
        out_.append(open);
        out_.append(text);
        out_.append(close);
    }

    void write(const std::string& s, int depth) {
        indent(depth);
        out_.append("<string>");
        escaped(s);
        out_.append("</string>\n");
    }

    template <typename Integer>
        requires std::is_integral_v<Integer> && (!std::is_same_v<Integer, bool>)
    void write(Integer i, int depth) {
        char buffer[24];
        auto end = std::to_chars(buffer, buffer + sizeof buffer, i).ptr;
        element(depth, "<integer>", std::string_view(buffer, static_cast<std::size_t>(end - buffer)), "</integer>\n");
    }

    // As the platform writes reals: 17 significant digits (%.17g), so 0.1 is 0.10000000000000001 and
    // 2.0 is 2; zero of either sign is 0.0.
    void write(double d, int depth) {
        if (std::isnan(d)) return element(depth, "<real>", "nan", "</real>\n");
        if (std::isinf(d)) return element(depth, "<real>", d > 0 ? "+infinity" : "-infinity", "</real>\n");
        if (d == 0) return element(depth, "<real>", "0.0", "</real>\n");
        char buffer[40];
        auto end = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, 17).ptr;
        element(depth, "<real>", std::string_view(buffer, static_cast<std::size_t>(end - buffer)), "</real>\n");
    }

    void write(bool b, int depth) {
        indent(depth);
        out_.append(b ? "<true/>\n" : "<false/>\n");
    }

    void write(PlistDate date, int depth) {
        indent(depth);
        out_.append("<date>");
        if (!detail::appendIsoDate(out_, date.secondsSinceReference))
            throw PlistWriteError("A date lies too far in the past or future to be written as XML.");
        out_.append("</date>\n");
    }

    void write(const PlistData& data, int depth) {
        indent(depth);
        out_.append("<data>\n");
        const std::string text = Base64::encode(data);
        // As the platform writes them: indentation counts against 76 columns, and the Base64 lines are
        // indented by at most eight tabs however deep the element lies.
        const int lineIndent = std::min(depth, 8);
        const std::size_t line = 76 - 8 * static_cast<std::size_t>(lineIndent);
        for (std::size_t i = 0; i < text.size(); i += line) {
            indent(lineIndent);
            out_.append(std::string_view(text).substr(i, line));
            out_.push_back('\n');
        }
        indent(depth);
        out_.append("</data>\n");
    }

    static void checkDepth(int depth) {
        if (depth >= PlistCodec::maxDepth) throw PlistWriteError("The property list is nested too deeply to be written.");
    }

    void write(const PlistArray& items, int depth) {
        checkDepth(depth);
        indent(depth);
        if (items.empty()) {
            out_.append("<array/>\n");
            return;
        }
        out_.append("<array>\n");
        for (const auto& item : items) value(item, depth + 1);
        indent(depth);
        out_.append("</array>\n");
    }

    std::string& out_;
};

}  // namespace

namespace {

template <typename T>
std::string document(const T& top) {
    std::string out;
    out.reserve(2048);
    out.append(header);
    XmlWriter writer(out);
    if constexpr (std::is_same_v<T, PlistValue>) writer.value(top, 0);
    else writer.write(top, 0);
    out.append("</plist>\n");
    return out;
}

}  // namespace

std::string PlistCodec::writeXml(const PlistValue& value) { return document(value); }
std::string PlistCodec::writeXml(const PlistDictionary& root) { return document(root); }

}  // namespace qw
