#include <gtest/gtest.h>

#include "Quillwick/launchd/DisabledOverrides.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"

namespace qw {
namespace {

using ExitStatus = RuntimeState::ExitStatus;

TEST(LaunchctlListEntry, linesReadAsEntries) {
    struct Case {
        const char* line;
        std::optional<LaunchctlListEntry> entry;
    };
    const Case cases[] = {
        {"-\t0\ta", LaunchctlListEntry{"a", std::nullopt, ExitStatus::code(0)}},
        {"123\t-\tb", LaunchctlListEntry{"b", 123, ExitStatus::neverExited()}},
        {"-\t-9\tc", LaunchctlListEntry{"c", std::nullopt, ExitStatus::signal(9)}},
        {" 7 \t 78 \t  d  ", LaunchctlListEntry{"d", 7, ExitStatus::code(78)}},
        {"x\t?\te\textra", LaunchctlListEntry{"e", std::nullopt, std::nullopt}},
        {"2147483648\t-2147483648\tf", LaunchctlListEntry{"f", std::nullopt, std::nullopt}},
        {"-\t\tg", LaunchctlListEntry{"g", std::nullopt, std::nullopt}},
        {"PID\tStatus\tLabel", std::nullopt},
        {"-\t0", std::nullopt},
        {"-\t0\t  ", std::nullopt},
        {"- 0 spaces-not-tabs", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto entries = LaunchctlListEntry::parse(c.line);
        if (c.entry) {
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0], *c.entry);
        } else {
            EXPECT_TRUE(entries.empty());
        }
    }
    EXPECT_FALSE(ExitStatus::neverExited().isFailure());
    EXPECT_FALSE(ExitStatus::signal(9).isFailure());
}

TEST(LaunchctlListEntry, wholeOutputKeepsLineOrder) {
    const auto entries = LaunchctlListEntry::parse("PID\tStatus\tLabel\n\n42\t0\tz.first\n-\t1\ta.second\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].label, "z.first");
    EXPECT_EQ(entries[1].label, "a.second");
    EXPECT_TRUE(LaunchctlListEntry::parse("").empty());
}

TEST(DisabledOverrides, recordsReadFromTheDisabledServicesBlock) {
    const auto overrides = DisabledOverrides::fromPrintDisabledOutput(
        "disabled services = {\n"
        "\t\"x\" => disabled\n"
        "\t\"y\" => enabled\n"
        "\t\"z\" => true\n"
        "}\n"
        "\n"
        "login item associations = {\n"
        "\t\"w\" => disabled\n"
        "}\n");
    EXPECT_EQ(overrides.entries, (std::map<std::string, bool>{{"x", true}, {"y", false}, {"z", true}}));

    EXPECT_TRUE(DisabledOverrides::fromPrintDisabledOutput("").entries.empty());
    EXPECT_TRUE(DisabledOverrides::fromPrintDisabledOutput("disabled services = nothing").entries.empty());
}

}  // namespace
}  // namespace qw
