#include "Quillwick/launchd/LaunchctlOutput.h"

#include <gtest/gtest.h>

#include <string>

namespace qw {
namespace {

using LaunchctlOutput::Block;
using LaunchctlOutput::Entry;
using LaunchctlOutput::Separator;
using LaunchctlOutput::Value;

Entry scalarEntry(std::string key, Separator separator, std::string value) {
    return Entry{std::move(key), separator, Value::scalar(std::move(value))};
}

TEST(LaunchctlOutput, serviceBlockIsUnwrappedAndQueried) {
    const std::string text = "gui/501/x = {\n\tstate = running\n\tpid = 42\n}\n";
    const auto top = LaunchctlOutput::parse(text);
    ASSERT_EQ(top.entries.size(), 1u);
    EXPECT_EQ(top.entries[0].key, "gui/501/x");

    const auto service = LaunchctlOutput::parseService(text);
    ASSERT_TRUE(service);
    Block expected;
    expected.entries = {scalarEntry("state", Separator::equals, "running"),
                        scalarEntry("pid", Separator::equals, "42")};
    EXPECT_EQ(*service, expected);
    EXPECT_EQ(service->integer("pid"), 42);
    EXPECT_EQ(service->string("state"), "running");
}

TEST(LaunchctlOutput, linesSplitIntoEntriesAndItems) {
    struct Case {
        const char* line;
        std::optional<Entry> entry;  // nothing: the line is an item
    };
    const Case cases[] = {
        {"path => /tmp/x", scalarEntry("path", Separator::arrow, "/tmp/x")},
        {"\"quoted key\" = v", scalarEntry("quoted key", Separator::equals, "v")},
        {"\" = v", scalarEntry("\"", Separator::equals, "v")},
        {"empty =", scalarEntry("empty", Separator::equals, "")},
        {"empty too =>", scalarEntry("empty too", Separator::arrow, "")},
        {"a = b => c", scalarEntry("a = b", Separator::arrow, "c")},
        {"k =  two spaces", scalarEntry("k", Separator::equals, " two spaces")},
        {"just some words", std::nullopt},
        {"=", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto block = LaunchctlOutput::parse(std::string("\t  ") + c.line + "  \t");
        if (c.entry) {
            ASSERT_EQ(block.entries.size(), 1u);
            EXPECT_EQ(block.entries[0], *c.entry);
            EXPECT_TRUE(block.items.empty());
        } else {
            EXPECT_TRUE(block.entries.empty());
            ASSERT_EQ(block.items.size(), 1u);
            EXPECT_EQ(block.items[0], c.line);
        }
    }
}

TEST(LaunchctlOutput, blocksEndAtTheirBraceOrAtTheEnd) {
    // An unclosed block at the very end is empty but present.
    const auto open = LaunchctlOutput::parse("x = {");
    ASSERT_NE(open.block("x"), nullptr);
    EXPECT_EQ(*open.block("x"), Block());

    // A closing brace at the top level ends the parse.
    const auto early = LaunchctlOutput::parse("a = 1\n}\nb = 2\n");
    EXPECT_TRUE(early.value("a"));
    EXPECT_FALSE(early.value("b"));

    // Nested blocks consume their own braces; the outer one continues after them.
    const auto nested = LaunchctlOutput::parse("s = {\n\targuments = {\n\t\t/bin/sh\n\t\t-c\n\t}\n\tafter = yes\n}\nz = 1");
    const auto* s = nested.block("s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->itemList("arguments"), (std::vector<std::string>{"/bin/sh", "-c"}));
    EXPECT_EQ(s->string("after"), "yes");
    EXPECT_EQ(nested.string("z"), "1");

    EXPECT_EQ(LaunchctlOutput::parse(""), Block());
    EXPECT_FALSE(LaunchctlOutput::parseService(""));
    EXPECT_FALSE(LaunchctlOutput::parseService("a = 1\nb = {\n}"));
}

TEST(LaunchctlOutput, emptyDataValuesRunOnIntoTheNextLine) {
    const auto tree = LaunchctlOutput::parse(
        "d = {\n"
        "\t\"a\" => {\n"
        "\t\t\"x\" => \t\t\"y\" => \t}\n"
        "\t\"b\" => \t\"c\" => 1\n"
        "\t\"v\" => \t\ttabbed\n"
        "}\n"
        "after = yes\n");
    const auto* d = tree.block("d");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->dictionary("a"), (std::map<std::string, std::string>{{"x", ""}, {"y", ""}}));
    EXPECT_EQ(d->string("b"), "");
    EXPECT_EQ(d->string("c"), "1");
    EXPECT_EQ(d->string("v"), "\t\ttabbed") << "tabs that are not the line's indentation are the value";
    EXPECT_EQ(tree.string("after"), "yes");
}

TEST(LaunchctlOutput, lookupsGiveNothingForTheWrongKind) {
    const auto block = LaunchctlOutput::parse(
        "scalar = 17 apples\nnested = {\n\tk = v\n\tk = later\n\tinner = {\n\t}\n\tan item\n}\n");
    EXPECT_FALSE(block.string("nested"));
    EXPECT_EQ(block.block("scalar"), nullptr);
    EXPECT_TRUE(block.itemList("scalar").empty());
    EXPECT_TRUE(block.dictionary("scalar").empty());
    EXPECT_FALSE(block.integer("nested"));
    EXPECT_FALSE(block.integer("missing"));
    EXPECT_EQ(block.integer("scalar"), 17);
    EXPECT_EQ(block.dictionary("nested"), (std::map<std::string, std::string>{{"k", "later"}}));
    EXPECT_EQ(block.itemList("nested"), (std::vector<std::string>{"an item"}));
    EXPECT_FALSE(block.string("Scalar"));  // keys are case-sensitive
}

TEST(LaunchctlOutput, integerReadingTakesTheNumericPrefix) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"42", 42},
        {"17 more text", 17},
        {"-9", -9},
        {"-", std::nullopt},
        {"5-3", std::nullopt},
        {"x1", std::nullopt},
        {"", std::nullopt},
        {" 4", std::nullopt},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-99999999999999999999", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(LaunchctlOutput::integerPrefix(text), expected);
    }
}

TEST(LaunchctlOutput, hostileNestingIsReadWithoutExhaustingTheStack) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "x = {\n";
    text += "deep = 1\n";
    const auto block = LaunchctlOutput::parse(text);
    int depth = 0;
    for (const Block* b = &block; (b = b->block("x")); ++depth) {
    }
    // Every level up to the cap, and the over-deep rest as one empty block.
    EXPECT_EQ(depth, LaunchctlOutput::kMaxDepth + 1);

    // What lies past the cap is skipped as a unit, so the structure after it is still read right.
    std::string closed = "outer = {\n";
    for (int i = 0; i < 200; ++i) closed += "x = {\n";
    for (int i = 0; i < 200; ++i) closed += "}\n";
    closed += "after = yes\n}\ntop = 1\n";
    const auto parsed = LaunchctlOutput::parse(closed);
    ASSERT_NE(parsed.block("outer"), nullptr);
    EXPECT_EQ(parsed.block("outer")->string("after"), "yes");
    EXPECT_EQ(parsed.string("top"), "1");
    EXPECT_EQ(parsed, LaunchctlOutput::parse(closed));  // comparison and copies stay bounded too
}

TEST(LaunchctlOutput, equalityAndHashFollowStructure) {
    const auto a = LaunchctlOutput::parse("k = v\nitem");
    EXPECT_EQ(a, LaunchctlOutput::parse("k = v\nitem"));
    EXPECT_EQ(a.hash(), LaunchctlOutput::parse("k = v\nitem").hash());
    EXPECT_NE(a, LaunchctlOutput::parse("k => v\nitem"));  // the separator counts
    EXPECT_NE(a, LaunchctlOutput::parse("k = v"));
    EXPECT_NE(LaunchctlOutput::parse("k = {\n}"), LaunchctlOutput::parse("k ="));
}

}  // namespace
}  // namespace qw
