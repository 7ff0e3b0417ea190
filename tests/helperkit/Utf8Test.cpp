#include "helperkit/Utf8.h"

#include <gtest/gtest.h>

namespace qw {
namespace {

TEST(Utf8, invalidSequencesAreReplacedOneMaximalSubpartAtATime) {
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ascii", "plain ascii"},
        {"caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xF0\x9F\x98\x80"},
        {"a\xFF" "b", "a" + fffd + "b"},
        {"\x80\x80", fffd + fffd},                     // lone continuation bytes
        {"\xC0\xAF", fffd + fffd},                     // overlong "/"
        {"\xE0\x80\xAF", fffd + fffd + fffd},          // overlong, three bytes
        {"\xED\xA0\x80", fffd + fffd + fffd},          // UTF-16 surrogate
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
        {"\xE2\x80", fffd},                            // truncated at the end
        {"\xE2\x80x", fffd + "x"},                     // truncated before ASCII
        {"\xF0\x9F\x98", fffd},
        {std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.input));
        EXPECT_EQ(Utf8::sanitized(c.input), c.expected);
        EXPECT_EQ(Utf8::isValid(c.input), c.input == c.expected);
        EXPECT_TRUE(Utf8::isValid(Utf8::sanitized(c.input)));
    }
}

}  // namespace
}  // namespace qw
