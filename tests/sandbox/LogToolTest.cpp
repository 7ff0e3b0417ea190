#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string predicate = "process == \"launchd\"";

std::string stamp(std::time_t at, const char* format)
{
    std::tm utc{};
    ::gmtime_r(&at, &utc);
    char text[40];
    std::strftime(text, sizeof text, format, &utc);
    return text;
}

Subprocess::Result logShow(const SandboxRoot& root, const std::string& last)
{
    return runTool(root.paths().logTool(), {"show", "--last", last, "--style", "compact", "--predicate", predicate},
                   std::string(), {{"TZ", "UTC"}});
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        result.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return result;
}

TEST(LogTool, printsInCompactStyleOnlyTheEntriesOfTheLastMinutes)
{
    SandboxRoot root;
    const std::time_t now = std::time(nullptr);
    // The forms a writer may use: zone with or without a colon, "Z", a "T", no fraction, no zone at all.
    root.writeFile("/private/var/log/launchd.log",
                   stamp(now - 90 * 60, "%Y-%m-%d %H:%M:%S.250000+0000") + " launchd[1]: [gui/0/com.a.old:] too old\n"
                       + "not an entry at all\n"
                       + stamp(now - 30 * 60, "%Y-%m-%dT%H:%M:%S.5Z") + " launchd[1]: [gui/0/com.a.job [12]:] exited\n"
                       + stamp(now - 20 * 60, "%Y-%m-%d %H:%M:%S+00:00") + " launchd[1]: [system/com.b:] spawned\n"
                       + stamp(now - 60, "%Y-%m-%d %H:%M:%S.123456+0000") + " launchd[1]: [gui/0/com.a.job:] running\r\n"
                       + "\n");
    // Written without a zone, a stamp is local time; TZ is UTC here.
    {
        auto text = stamp(now - 10, "%Y-%m-%d %H:%M:%S.000999") + " launchd[1]: local\n";
        std::FILE* file = std::fopen(root.resolve("/private/var/log/launchd.log").c_str(), "a");
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }

    auto result = logShow(root, "60m");
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_THAT(lines(result.standardOutput),
                ElementsAre("Filtering the log data using \"process == \"launchd\"\"",
                            "Timestamp               Ty Process[PID:TID]",
                            stamp(now - 30 * 60, "%Y-%m-%d %H:%M:%S.500") + " Df launchd[1:1a4] [gui/0/com.a.job [12]:] exited",
                            stamp(now - 20 * 60, "%Y-%m-%d %H:%M:%S.000") + " Df launchd[1:1a4] [system/com.b:] spawned",
                            stamp(now - 60, "%Y-%m-%d %H:%M:%S.123") + " Df launchd[1:1a4] [gui/0/com.a.job:] running",
                            stamp(now - 10, "%Y-%m-%d %H:%M:%S.000") + " Df launchd[1:1a4] local"));

    result = logShow(root, "5m");
    ASSERT_EQ(result.exitStatus, 0);
    const auto recent = lines(result.standardOutput);
    ASSERT_EQ(recent.size(), 4u);
    EXPECT_THAT(recent[2], HasSubstr("[gui/0/com.a.job:] running"));

    result = logShow(root, "100m");
    EXPECT_EQ(lines(result.standardOutput).size(), 7u);
}

TEST(LogTool, withoutALogFilePrintsOnlyItsHeader)
{
    SandboxRoot root;
    const auto result = logShow(root, "60m");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(lines(result.standardOutput).size(), 2u);
}

TEST(LogTool, refusesEveryOtherArgumentListWithStatus64)
{
    SandboxRoot root;
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"show"},
        {"show", "--last", "60m", "--style", "compact"},
        {"show", "--last", "60", "--style", "compact", "--predicate", predicate},
        {"show", "--last", "1h", "--style", "compact", "--predicate", predicate},
        {"show", "--last", "-5m", "--style", "compact", "--predicate", predicate},
        {"show", "--last", "60m", "--style", "json", "--predicate", predicate},
        {"show", "--last", "60m", "--style", "compact", "--predicate", "process == \"kernel\""},
        {"stream", "--last", "60m", "--style", "compact", "--predicate", predicate},
        {"show", "--last", "60m", "--style", "compact", "--predicate", predicate, "--info"},
    };
    for (const auto& arguments : refused) {
        const auto result = runTool(root.paths().logTool(), arguments);
        EXPECT_EQ(result.exitStatus, 64) << ::testing::PrintToString(arguments);
        EXPECT_THAT(result.standardError, HasSubstr("usage: log show --last <n>m"));
        EXPECT_EQ(result.standardOutput, "");
    }
}

}  // namespace
}  // namespace qw::test
