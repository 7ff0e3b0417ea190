#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "helperkit/PlistValue.h"

namespace qw {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(PlistValue, literalsMakeTheirKinds) {
    EXPECT_EQ(PlistValue("text").kind(), PlistValue::Kind::string);
    EXPECT_EQ(PlistValue(3).kind(), PlistValue::Kind::integer);
    EXPECT_EQ(PlistValue(2.0).kind(), PlistValue::Kind::real);
    EXPECT_EQ(PlistValue(true).kind(), PlistValue::Kind::boolean);
    EXPECT_EQ(PlistValue::array({1, "a"}).kind(), PlistValue::Kind::array);
    EXPECT_EQ(PlistValue::dictionary({{"k", 1}}).kind(), PlistValue::Kind::dictionary);
}

TEST(PlistValue, repeatedKeyInLiteralKeepsLastValueAtFirstPlace) {
    PlistDictionary d{{"a", 1}, {"b", 2}, {"a", 3}};
    EXPECT_EQ(d.size(), 2u);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(*d.find("a"), PlistValue(3));

    // The same rule for dictionaries too large for the pairwise check.
    std::vector<PlistDictionary::Entry> entries;
    for (int i = 0; i < 40; ++i) entries.emplace_back("k" + std::to_string(i % 30), i);
    PlistDictionary big = PlistDictionary::fromEntries(entries);
    ASSERT_EQ(big.size(), 30u);
    EXPECT_EQ(big.keys().front(), "k0");
    EXPECT_EQ(*big.find("k0"), PlistValue(30));
    EXPECT_EQ(*big.find("k29"), PlistValue(29));
}

TEST(PlistValue, dictionaryKeepsOrderAndAppendsNewKeys) {
    PlistDictionary d{{"Label", "x"}, {"RunAtLoad", true}};
    d.set("Label", "y");
    d.set("KeepAlive", false);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"Label", "RunAtLoad", "KeepAlive"}));
    EXPECT_TRUE(d.erase("RunAtLoad"));
    EXPECT_FALSE(d.erase("RunAtLoad"));
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"Label", "KeepAlive"}));
}

TEST(PlistValue, accessorsReadOnlyTheirKinds) {
    EXPECT_EQ(PlistValue(0).boolValue(), false);
    EXPECT_EQ(PlistValue(-5).boolValue(), true);
    EXPECT_EQ(PlistValue(1.0).boolValue(), std::nullopt);
    EXPECT_EQ(PlistValue("true").boolValue(), std::nullopt);
    EXPECT_EQ(PlistValue(true).intValue(), std::nullopt);
    EXPECT_EQ(PlistValue("3").intValue(), std::nullopt);
    EXPECT_EQ(PlistValue(3).realValue(), std::nullopt);
    EXPECT_EQ(PlistValue(3).stringValue(), std::nullopt);
    EXPECT_EQ(PlistValue("x").arrayValue(), nullptr);
    EXPECT_EQ(PlistValue(PlistArray{}).dictionaryValue(), nullptr);
}

TEST(PlistValue, intValueOfRealTruncatesOnlyWhereDefined) {
    const std::pair<double, std::optional<std::int64_t>> cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {-9223372036854775808.0, std::numeric_limits<std::int64_t>::min()},
        {9223372036854775808.0, std::nullopt},
        {-9223372036854777856.0, std::nullopt},
        {1e300, std::nullopt},
        {inf, std::nullopt},
        {-inf, std::nullopt},
        {nan, std::nullopt},
    };
    for (auto [real, expected] : cases) EXPECT_EQ(PlistValue(real).intValue(), expected) << real;
}

TEST(PlistValue, integersAboveTheSignedRangeAreIntegersThatSignedAccessorsCannotHold) {
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    const PlistValue big(top);
    EXPECT_EQ(big.kind(), PlistValue::Kind::integer);
    EXPECT_EQ(big.typeName(), "Integer");
    EXPECT_EQ(big.summary(), "18446744073709551615");
    EXPECT_EQ(big.intValue(), std::nullopt);
    EXPECT_EQ(big.unsignedValue(), top);
    EXPECT_EQ(big.boolValue(), true);
    EXPECT_NE(big, PlistValue(-1));
    // Every number has one form, whichever constructor made it.
    EXPECT_EQ(PlistValue(std::uint64_t(7)), PlistValue(7));
    EXPECT_EQ(PlistValue(std::uint64_t(7)).hash(), PlistValue(7).hash());
    EXPECT_EQ(PlistValue(-7).unsignedValue(), std::nullopt);
}

TEST(PlistValue, stringArrayValue) {
    EXPECT_EQ(PlistValue("a").stringArrayValue(), (std::vector<std::string>{"a"}));
    EXPECT_EQ(PlistValue::array({"a", 1, "b"}).stringArrayValue(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(PlistValue(PlistArray{}).stringArrayValue(), std::vector<std::string>{});
    EXPECT_EQ(PlistValue(3).stringArrayValue(), std::nullopt);
}

TEST(PlistValue, equalityIsStructural) {
    EXPECT_NE(PlistValue(1), PlistValue(1.0));
    EXPECT_NE(PlistValue(1), PlistValue(true));
    EXPECT_NE(PlistValue(0.0), PlistValue(false));
    // A value equals itself, NaN included, so a file holding one can read as unchanged.
    EXPECT_EQ(PlistValue(nan), PlistValue(-nan));
    EXPECT_EQ(PlistValue::array({nan, PlistDate{nan}}), PlistValue::array({nan, PlistDate{nan}}));
    EXPECT_NE(PlistValue(nan), PlistValue(1.0));
    EXPECT_EQ(PlistValue(0.0), PlistValue(-0.0));
    EXPECT_NE(PlistValue(PlistDate{5}), PlistValue(5.0));
    EXPECT_NE(PlistValue::array({1, 2}), PlistValue::array({2, 1}));
    EXPECT_EQ(PlistValue::dictionary({{"a", 1}, {"b", 2}}), PlistValue::dictionary({{"b", 2}, {"a", 1}}));
    EXPECT_NE(PlistValue::dictionary({{"a", 1}, {"b", 2}}), PlistValue::dictionary({{"a", 1}, {"c", 2}}));
    EXPECT_NE(PlistValue::dictionary({{"a", 1}}), PlistValue::dictionary({{"a", 1}, {"b", 2}}));

    // Large dictionaries compare through a sorted view; they must still ignore order.
    PlistDictionary forward, backward;
    for (int i = 0; i < 50; ++i) forward.set("k" + std::to_string(i), i);
    for (int i = 49; i >= 0; --i) backward.set("k" + std::to_string(i), i);
    EXPECT_EQ(forward, backward);
    backward.set("k7", 8);
    EXPECT_NE(forward, backward);
}

TEST(PlistValue, equalValuesHashAlike) {
    EXPECT_EQ(PlistValue(0.0).hash(), PlistValue(-0.0).hash());
    EXPECT_EQ(PlistValue(nan).hash(), PlistValue(-nan).hash());
    EXPECT_EQ(PlistValue::dictionary({{"a", 1}, {"b", "x"}}).hash(),
              PlistValue::dictionary({{"b", "x"}, {"a", 1}}).hash());
    // Kinds with the same payload bits are told apart by the case index.
    EXPECT_NE(PlistValue(1).hash(), PlistValue(true).hash());
    EXPECT_NE(PlistValue::array({1, 2}).hash(), PlistValue::array({2, 1}).hash());
    std::unordered_set<PlistValue> set{PlistValue("a"), PlistValue(1), PlistValue::array({"a"})};
    EXPECT_EQ(set.count(PlistValue::array({"a"})), 1u);
    EXPECT_EQ(set.count(PlistValue(1.0)), 0u);
}

TEST(PlistValue, summaryAndTypeName) {
    const std::pair<PlistValue, std::string> cases[] = {
        {PlistValue("hello"), "hello"},
        {PlistValue(-42), "-42"},
        {PlistValue(1.0), "1.0"},
        {PlistValue(0.25), "0.25"},
        {PlistValue(1e20), "1e+20"},
        {PlistValue(1000000.0), "1000000.0"},
        {PlistValue(0.0001), "0.0001"},
        {PlistValue(0.00001), "1e-05"},
        {PlistValue(9007199254740992.0), "9007199254740992.0"},
        {PlistValue(1e16), "1e+16"},
        {PlistValue(true), "true"},
        {PlistValue(PlistData{7}), "1 bytes"},
        {PlistValue(PlistData{}), "0 bytes"},
        {PlistValue(PlistArray{}), "0 items"},
        {PlistValue::array({1}), "1 item"},
        {PlistValue::array({1, 2}), "2 items"},
        {PlistValue(PlistDictionary{}), "0 entries"},
        {PlistValue::dictionary({{"a", 1}}), "1 entry"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(value.summary(), text);
    EXPECT_EQ(PlistValue(2.5).typeName(), "Number");
    EXPECT_EQ(PlistValue(PlistDictionary{}).typeName(), "Dictionary");
}

TEST(PlistValue, dateSummaryShowsDayYearAndTime) {
    // 2026-12-09 14:05 UTC; the zone and locale are the environment's, so only the shape is fixed.
    const std::string text = PlistValue(PlistDate{818517900}).summary();
    EXPECT_NE(text.find("2026"), std::string::npos) << text;
    EXPECT_NE(text.find(':'), std::string::npos) << text;
    EXPECT_NE(text.front(), ' ');
}

TEST(PlistValue, shortestRealTextReadsBackExactly) {
    for (double d : {0.1, 1.0 / 3, 123456789.0, 5e-324, 1.7976931348623157e308, -2.5}) {
        const std::string text = shortestRealText(d);
        double back = 0;
        std::from_chars(text.data(), text.data() + text.size(), back);
        EXPECT_EQ(back, d) << text;
    }
    EXPECT_EQ(shortestRealText(-0.0), "-0.0");
}

}  // namespace
}  // namespace qw
