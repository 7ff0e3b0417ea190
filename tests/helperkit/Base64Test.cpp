#include <gtest/gtest.h>

#include <string>

#include "helperkit/Base64.h"

namespace qw {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Base64, encodesEveryPaddingLength) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd", "//79"},
    };
    for (auto [plain, coded] : cases) {
        EXPECT_EQ(Base64::encode(bytes(plain)), coded) << plain;
        EXPECT_EQ(Base64::decode(coded), bytes(plain)) << coded;
        EXPECT_EQ(Base64::decodeIgnoringWhitespace(coded), bytes(plain)) << coded;
    }
}

TEST(Base64, allByteValuesRoundTrip) {
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        std::vector<std::uint8_t> part(all.begin(), all.begin() + n);
        EXPECT_EQ(Base64::decode(Base64::encode(part)), part);
    }
}

TEST(Base64, strictDecodingRefusesMalformedText) {
    for (std::string_view bad : {"Zg", "Zg=", "Z===", "Zm9v Yg==", "Zm9vYg==Zg==", "Zm9v\nYmFy", "Zm9*", "Zh==",
                                 "Zm9=Zm9v", "====", "Zg==="}) {
        EXPECT_FALSE(Base64::decode(bad).has_value()) << bad;
    }
}

TEST(Base64, lenientDecodingSkipsWhiteSpaceOnly) {
    EXPECT_EQ(Base64::decodeIgnoringWhitespace("\n\tZm9v\n\tYmFy\n"), bytes("foobar"));
    EXPECT_EQ(Base64::decodeIgnoringWhitespace("Zm9vYg= =\n"), bytes("foob"));
    EXPECT_EQ(Base64::decodeIgnoringWhitespace(" \n "), bytes(""));
    EXPECT_FALSE(Base64::decodeIgnoringWhitespace("Zm9vY").has_value());
    EXPECT_FALSE(Base64::decodeIgnoringWhitespace("Zm9v!").has_value());
    EXPECT_FALSE(Base64::decodeIgnoringWhitespace("Zg== Zg==").has_value());
}

}  // namespace
}  // namespace qw
