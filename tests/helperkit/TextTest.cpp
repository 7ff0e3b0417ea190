#include <gtest/gtest.h>

#include "helperkit/Text.h"

namespace qw {
namespace {

TEST(Text, trimmedWhitespaceCutsOnlyWholeWhiteCharactersAtTheEnds) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"\u00A0\u2028 a b\t\u2029\u3000\r\n", "a b"},
        {"\u1680\u2000\u200A\u202F\u205F\u0085\v\f", ""},
        {"\u200B a", "\u200B a"},                    // a zero-width space is no white space
        {" \xE2\x80 ", "\xE2\x80"},                  // a cut-off sequence is kept, not split
        {"\x80 x \xA0", "\x80 x \xA0"},              // stray continuation bytes too
        {"\xC2", "\xC2"},
    };
    for (auto [text, expected] : cases) EXPECT_EQ(Text::trimmedWhitespace(text), expected) << text;
}

}  // namespace
}  // namespace qw
