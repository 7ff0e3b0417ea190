// The old text form: { key = value; }, ( a, b ), <hex data>, quoted and bare strings, and C comments.
// Text that holds nothing but "key = value;" lines reads as a dictionary, as strings files do.
#include <optional>

#include "helperkit/detail/PlistFormats.h"

namespace qw::detail {
namespace {

bool isBareChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class TextReader {
public:
    explicit TextReader(std::string_view text) : s_(text) {}

    PlistValue read() {
        skip();
        if (at_ == s_.size()) return PlistValue(PlistDictionary());  // as the platform reads blank text
        const std::size_t start = at_;
        PlistValue top = value(0);
        skip();
        if (at_ == s_.size()) return top;
        if (top.isString() && peek() == '=') {
            at_ = start;
            return dictionaryBody(1, false);
        }
        fail("Unexpected text after the property list");
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < at_ && i < s_.size(); ++i) line += s_[i] == '\n';
        throw PlistParseError(what + " on line " + std::to_string(line) + ".");
    }

    char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }

    void skip() {
        while (at_ < s_.size()) {
            const char c = s_[at_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++at_;
            } else if (c == '/' && at_ + 1 < s_.size() && s_[at_ + 1] == '/') {
                const std::size_t end = s_.find('\n', at_);
                at_ = end == std::string_view::npos ? s_.size() : end + 1;
            } else if (c == '/' && at_ + 1 < s_.size() && s_[at_ + 1] == '*') {
                const std::size_t end = s_.find("*/", at_ + 2);
                if (end == std::string_view::npos) fail("A comment is not closed");
                at_ = end + 2;
            } else {
                return;
            }
        }
    }

    PlistValue value(int depth) {
        skip();
        const char c = peek();
        if (c == '{') {
            ++at_;
            return dictionaryBody(depth + 1, true);
        }
        if (c == '(') {
            ++at_;
            return array(depth + 1);
        }
        if (c == '<') {
            ++at_;
            return data();
        }
        if (c == '"' || c == '\'') return PlistValue(quoted());
        if (isBareChar(c)) return PlistValue(bare());
        if (at_ == s_.size()) fail("The property list ends too early");
        fail(std::string("Unexpected character ‘") + c + "’");
    }

    static void checkDepth(int depth, const TextReader& r) {
        if (depth > PlistCodec::maxDepth) r.fail("The property list is nested too deeply");
    }

    std::string key() {
        skip();
        const char c = peek();
        if (c == '"' || c == '\'') return quoted();
        if (isBareChar(c)) return bare();
        if (at_ == s_.size()) fail("The property list ends too early");
        fail("A dictionary key is missing");
    }

    PlistValue dictionaryBody(int depth, bool braced) {
        checkDepth(depth, *this);
        std::vector<PlistDictionary::Entry> entries;
        for (;;) {
            skip();
            if (braced && peek() == '}') {
                ++at_;
                break;
            }
            if (!braced && at_ == s_.size()) break;
            std::string k = key();
            skip();
            if (peek() == ';') {
                // "key;" stands for "key = key;"
                ++at_;
                PlistValue v(k);
                entries.emplace_back(std::move(k), std::move(v));
                continue;
            }
            if (peek() != '=') fail("Expected ‘=’ after a dictionary key");
            ++at_;
            PlistValue v = value(depth);
            skip();
            if (peek() != ';') fail("Expected ‘;’ after a dictionary value");
            ++at_;
            entries.emplace_back(std::move(k), std::move(v));
        }
        return PlistValue(PlistDictionary::fromEntries(std::move(entries)));
    }

    PlistValue array(int depth) {
        checkDepth(depth, *this);
        PlistArray items;
        skip();
        if (peek() == ')') {
            ++at_;
            return PlistValue(std::move(items));
        }
        for (;;) {
            items.push_back(value(depth));
            skip();
            if (peek() == ')') {
                ++at_;
                break;
            }
            if (peek() != ',') fail("Expected ‘,’ or ‘)’ in an array");
            ++at_;
            skip();
            if (peek() == ')') {  // a trailing comma
                ++at_;
                break;
            }
        }
        return PlistValue(std::move(items));
    }

    PlistValue data() {
        PlistData bytes;
        for (;;) {
            skip();
            if (peek() == '>') {
                ++at_;
                return PlistValue(std::move(bytes));
            }
            const int hi = hexValue(peek());
            const int lo = at_ + 1 < s_.size() ? hexValue(s_[at_ + 1]) : -1;
            if (hi < 0 || lo < 0) fail("Data holds a character that is no hex digit");
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
            at_ += 2;
        }
    }

    std::string bare() {
        const std::size_t start = at_;
        while (at_ < s_.size() && isBareChar(s_[at_])) ++at_;
        std::string result(s_.substr(start, at_ - start));
        makeValidUtf8(result);
        return result;
    }

    std::string quoted() {
        const char quote = s_[at_++];
        std::string out;
        std::u16string pending;  // \U escapes, joined so that surrogate pairs combine
        auto flush = [&] {
            if (!pending.empty()) appendUtf16(out, pending.data(), pending.size());
            pending.clear();
        };
        for (;;) {
            if (at_ >= s_.size()) fail("A quoted string is not closed");
            const char c = s_[at_++];
            if (c == quote) break;
            if (c != '\\') {
                flush();
                out.push_back(c);
                continue;
            }
            if (at_ >= s_.size()) fail("A quoted string is not closed");
            const char e = s_[at_++];
            if (e == 'U') {
                char16_t unit = 0;
                int digits = 0;
                while (digits < 4 && at_ < s_.size() && hexValue(s_[at_]) >= 0) {
                    unit = static_cast<char16_t>(unit << 4 | hexValue(s_[at_++]));
                    ++digits;
                }
                pending.push_back(unit);
                continue;
            }
            flush();
            if (e >= '0' && e <= '7') {
                unsigned code = static_cast<unsigned>(e - '0');
                for (int n = 1; n < 3 && at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '7'; ++n)
                    code = code * 8 + static_cast<unsigned>(s_[at_++] - '0');
                appendUtf8(out, code & 0xFF);
                continue;
            }
            switch (e) {
                case 'a': out.push_back('\a'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'v': out.push_back('\v'); break;
                default: out.push_back(e); break;  // \" \' \\ and any other character stand for themselves
            }
        }
        flush();
        makeValidUtf8(out);
        return out;
    }

    std::string_view s_;
    std::size_t at_ = 0;
};

}  // namespace

PlistCodec::Parsed readTextPlist(std::string_view utf8) { return {TextReader(utf8).read(), PlistFormat::openStep}; }

}  // namespace qw::detail
