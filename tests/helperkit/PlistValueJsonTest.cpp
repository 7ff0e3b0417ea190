#include <gtest/gtest.h>

#include <limits>

#include "helperkit/PlistValueJson.h"

namespace qw {
namespace {

using nlohmann::json;

TEST(PlistValueJson, encodesEachKindAsOneValue) {
    const PlistValue v = PlistValue::dictionary({
        {"s", "text"},
        {"i", -7},
        {"r", 2.5},
        {"b", true},
        {"d", PlistDate{818517900}},
        {"data", PlistData{'h', 'i', '!'}},
        {"a", PlistValue::array({1, "x"})},
    });
    EXPECT_EQ(plistToJson(v), json::parse(R"({"s":"text","i":-7,"r":2.5,"b":true,"d":"2026-12-09T14:05:00Z",
                                             "data":"aGkh","a":[1,"x"]})"));
    EXPECT_TRUE(plistToJson(PlistValue(true)).is_boolean());
    EXPECT_TRUE(plistToJson(PlistValue(2.0)).is_number_float());
    EXPECT_TRUE(plistToJson(PlistValue(2)).is_number_integer());
}

TEST(PlistValueJson, decodingTriesBooleanIntegerRealTextListMap) {
    EXPECT_EQ(plistFromJson(json(true)), PlistValue(true));
    EXPECT_EQ(plistFromJson(json(3)), PlistValue(3));
    EXPECT_EQ(plistFromJson(json(3.5)), PlistValue(3.5));
    EXPECT_EQ(plistFromJson(json::parse("18446744073709551615")), PlistValue(std::uint64_t(18446744073709551615u)));
    EXPECT_EQ(plistToJson(PlistValue(std::uint64_t(18446744073709551615u))).dump(), "18446744073709551615");
    EXPECT_EQ(plistFromJson(json("s")), PlistValue("s"));
    EXPECT_EQ(plistFromJson(json::parse(R"({"a":[1,{"b":false}]})")),
              PlistValue::dictionary({{"a", PlistValue::array({1, PlistValue::dictionary({{"b", false}})})}}));
    // Dates and data come back as their text.
    const PlistValue date(PlistDate{0});
    EXPECT_EQ(plistFromJson(plistToJson(date)), PlistValue("2001-01-01T00:00:00Z"));
}

TEST(PlistValueJson, whatHasNoFormFails) {
    for (const json& bad : {json(nullptr), json::parse("[1,null]"), json::parse(R"({"a":{"b":null}})")}) {
        try {
            plistFromJson(bad);
            ADD_FAILURE() << bad;
        } catch (const PlistJsonError& e) {
            EXPECT_STREQ(e.what(), "Not a property list value");
        }
    }
    // JSON would write these as null, losing them without a word.
    EXPECT_THROW(plistToJson(PlistValue(std::numeric_limits<double>::quiet_NaN())), PlistJsonEncodingError);
    EXPECT_THROW(plistToJson(PlistValue::array({std::numeric_limits<double>::infinity()})), PlistJsonEncodingError);
    EXPECT_THROW(plistToJson(PlistValue(PlistDate{1e300})), PlistJsonEncodingError);

    json deep = json::array();
    for (int i = 0; i < 1000; ++i) deep = json::array({deep});
    EXPECT_THROW(plistFromJson(deep), PlistJsonError);
}

}  // namespace
}  // namespace qw
