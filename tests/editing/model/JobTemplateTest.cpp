#include <gtest/gtest.h>

#include "Quillwick/editing/model/DecimalInteger.h"
#include "Quillwick/editing/model/JobTemplate.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {

class JobTemplateTest : public ::testing::Test {
protected:
    // Templates only read the home folder's path, so a machine that exists on paper is enough.
    SystemPaths::Override paths{SystemPaths("/mac", "/mac/Users/ann")};

    static PlistValue strings(std::vector<std::string> items) {
        PlistArray array;
        for (auto& s : items) array.emplace_back(s);
        return PlistValue(array);
    }
};

TEST_F(JobTemplateTest, loginWithNoValuesBuildsTheWholeDefinition) {
    JobDefinition d = JobTemplate::login().build("com.example.job", {});
    const std::string log = "/mac/Users/ann/Library/Logs/com.example.job.log";
    PlistDictionary expected{{"Label", "com.example.job"},
                             {"ProgramArguments", strings({""})},
                             {"StandardOutPath", log},
                             {"StandardErrorPath", log},
                             {"ProcessType", "Background"},
                             {"RunAtLoad", true}};
    EXPECT_EQ(d.file.root, expected);
    EXPECT_EQ(d.file.format, PlistFormat::xml);
    EXPECT_FALSE(d.location);
    EXPECT_FALSE(d.loadFailure);
}

TEST_F(JobTemplateTest, argumentsSplitAtSpacesOnly) {
    struct Case {
        std::string arguments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"  -v   --dry-run ", {"/bin/x", "-v", "--dry-run"}},
        {"   ", {"/bin/x"}},
        {"a \"b c\"", {"/bin/x", "a", "\"b", "c\""}},
        {"a\tb", {"/bin/x", "a\tb"}},
    };
    for (const Case& c : cases) {
        JobDefinition d = JobTemplate::login().build("l", {{"program", "/bin/x"}, {"arguments", c.arguments}});
        EXPECT_EQ(d.programArguments(), c.expected) << c.arguments;
    }
}

TEST_F(JobTemplateTest, integerInputsFallBackWhenTheyDoNotRead) {
    struct Case {
        std::optional<std::string> seconds;
        std::int64_t expected;
    };
    const Case cases[] = {{std::nullopt, 3600}, {"", 3600}, {"abc", 3600}, {" 60", 3600}, {"60 ", 3600},
                          {"+60", 60},          {"-5", -5}, {"0", 0},      {"99999999999999999999", 3600}};
    for (const Case& c : cases) {
        JobTemplate::Values values;
        if (c.seconds) values["seconds"] = *c.seconds;
        EXPECT_EQ(JobTemplate::interval().build("l", values).startInterval(), c.expected) << c.seconds.value_or("<none>");
    }
}

TEST_F(JobTemplateTest, scheduleWritesOneDictionaryAndAnEmptyHourMeansEveryHour) {
    auto schedule = [](JobTemplate::Values values) {
        return *JobTemplate::schedule().build("l", values)["StartCalendarInterval"];
    };
    EXPECT_EQ(schedule({{"hour", "7"}, {"minute", "30"}}), PlistValue::dictionary({{"Minute", 30}, {"Hour", 7}}));
    EXPECT_EQ(schedule({{"hour", ""}, {"minute", ""}, {"weekday", ""}}), PlistValue::dictionary({{"Minute", 0}}));
    EXPECT_EQ(schedule({}), PlistValue::dictionary({{"Minute", 0}, {"Hour", 9}}));
    EXPECT_EQ(schedule({{"hour", "x"}, {"weekday", "0"}}),
              PlistValue::dictionary({{"Minute", 0}, {"Hour", 9}, {"Weekday", 0}}));
    EXPECT_EQ(schedule({{"hour", "25"}, {"weekday", "9"}}),
              PlistValue::dictionary({{"Minute", 0}, {"Hour", 25}, {"Weekday", 9}}));
}

TEST_F(JobTemplateTest, pathsExpandALeadingTilde) {
    EXPECT_EQ(JobTemplate::watch().build("l", {})["WatchPaths"], strings({""}));
    EXPECT_EQ(JobTemplate::watch().build("l", {{"path", "~/Downloads"}})["WatchPaths"],
              strings({"/mac/Users/ann/Downloads"}));
    EXPECT_EQ(JobTemplate::watch().build("l", {{"path", "/tmp/~x"}})["WatchPaths"], strings({"/tmp/~x"}));

    JobDefinition bare = JobTemplate::server().build("l", {});
    EXPECT_FALSE(bare.find("WorkingDirectory"));
    EXPECT_EQ(bare["ThrottleInterval"], PlistValue(10));
    EXPECT_EQ(bare.keepAlive(), KeepAlive::always());
    EXPECT_EQ(JobTemplate::server().build("l", {{"workingDirectory", "~"}}).workingDirectory(), "/mac/Users/ann");
}

TEST_F(JobTemplateTest, bootRunsAsRootUnlessAnotherUserIsNamed) {
    const std::pair<std::optional<std::string>, std::optional<std::string>> cases[] = {
        {std::nullopt, std::nullopt}, {"", std::nullopt}, {"root", std::nullopt}, {"Root", "Root"}, {" root", " root"}};
    for (const auto& [user, expected] : cases) {
        JobTemplate::Values values;
        if (user) values["user"] = *user;
        EXPECT_EQ(JobTemplate::boot().build("d", values).userName(), expected) << user.value_or("<none>");
    }
    JobDefinition d = JobTemplate::boot().build("d", {});
    EXPECT_EQ(d.standardOutPath(), "/mac/Library/Logs/Quillwick/d.log");
    EXPECT_EQ(d.standardErrorPath(), d.standardOutPath());
    EXPECT_TRUE(d.runAtLoad());
}

TEST_F(JobTemplateTest, catalogueIsLookedUpExactlyAndOnlyBootNeedsAnAdministrator) {
    std::vector<std::string> ids;
    for (const JobTemplate& t : JobTemplate::all()) {
        ids.push_back(t.id());
        EXPECT_EQ(t.needsAdministrator(), t.id() == "boot");
        ASSERT_GE(t.parameters().size(), 2u);
        EXPECT_EQ(t.parameters()[0].id, "program");
        EXPECT_EQ(t.parameters()[1].id, "arguments");
        EXPECT_EQ(JobTemplate::named(t.id()), &t);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"login", "interval", "schedule", "watch", "server", "boot"}));
    EXPECT_EQ(JobTemplate::named("Login"), nullptr);
    EXPECT_EQ(JobTemplate::boot().directory(), JobDirectory::globalDaemons);
}

TEST(DecimalIntegerTest, readsOnlyASignAndDigitsWithinRange) {
    EXPECT_EQ(parseDecimalInteger("05"), 5);
    EXPECT_EQ(parseDecimalInteger("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", "+-1", "1.0", "1,000", " 1", "9223372036854775808", "0x1"})
        EXPECT_EQ(parseDecimalInteger(bad), std::nullopt) << bad;
    // As a property-list integer it goes on to 2^64−1, as job files do.
    EXPECT_EQ(parsePlistInteger("+18446744073709551615"), PlistValue(UINT64_MAX));
    EXPECT_EQ(parsePlistInteger("-5"), PlistValue(-5));
    for (const char* bad : {"18446744073709551616", "-9223372036854775809", "-18446744073709551615", "1x"})
        EXPECT_EQ(parsePlistInteger(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace qw
