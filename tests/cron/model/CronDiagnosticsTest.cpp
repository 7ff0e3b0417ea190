#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Quillwick/cron/CronDiagnostics.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

std::vector<std::string> titles(const std::vector<Issue>& issues) {
    std::vector<std::string> out;
    for (const auto& issue : issues) {
        EXPECT_FALSE(issue.fix.has_value());
        out.push_back(issue.title);
    }
    return out;
}

const std::string missing = "The command does not exist";
const std::string cannotRun = "The command cannot be run";
const std::string path = "This relies on PATH, and cron's PATH is not yours";
const std::string percent = "An unescaped % will break this command";
const std::string tilde = "A tilde may not expand";
const std::string reboot = "@reboot is unreliable on macOS";
const std::string everyMinute = "This runs every minute";
const std::string dayOr = "Day of month and day of week are an OR, not an AND";
const std::string nowhere = "This job's output goes nowhere";
const std::string protectedFolder = "This touches a folder macOS protects";

class CronDiagnosticsTest : public ::testing::Test {
protected:
    CronDiagnosticsTest() {
        root.writeFile("/usr/local/bin/tool", "#!/bin/sh\n", 0755);
        root.writeFile("/usr/local/bin/script.sh", "echo\n", 0644);
    }
    std::vector<std::string> issuesOf(const std::string& line, const std::string& crontab = "") {
        const Crontab table = Crontab::parsing(crontab + line + "\n");
        return titles(CronDiagnostics::issues(table.jobs().back(), table));
    }
    SandboxRoot root;
};

TEST_F(CronDiagnosticsTest, eachPitfallIsFoundOnceAndErrorsComeFirst) {
    using List = std::vector<std::string>;
    const std::pair<std::string, List> cases[] = {
        {"0 9 * * * /usr/local/bin/tool > /tmp/log 2>&1", {}},
        {"0 9 * * * /usr/local/bin/tool | logger", {}},
        {"0 9 * * * /usr/local/bin/tool |logger", {nowhere}},
        {"0 9 * * * /usr/local/bin/missing >/dev/null", {missing}},
        {"0 9 * * * /usr/local/bin/script.sh >/dev/null", {cannotRun}},
        {"0 9 * * * PATH=/opt/bin:/usr/bin backup.sh >/dev/null", {path}},
        {"0 9 * * * A=1 B=2 >/dev/null", {path}},
        {"0 9 * * * /usr/local/bin/tool date +%Y-%m-%d >/dev/null", {percent}},
        {"0 9 * * * /usr/local/bin/tool date +\\%Y-\\%m-\\%d >/dev/null", {}},
        {"0 9 * * * /usr/local/bin/tool date +\\%Y-%m >/dev/null", {}},
        {"* * * * 1-5 /usr/local/bin/tool", {everyMinute, nowhere}},
        {"0 9 1 * 1 /usr/local/bin/tool >/dev/null", {dayOr}},
        {"0 9 1 * * /usr/local/bin/tool >/dev/null", {}},
        {"@reboot /usr/local/bin/tool >/dev/null", {reboot}},
        {"0 9 * * * cd ~/Documents && ./run", {path, tilde, protectedFolder, nowhere}},
        {"0 9 * * * /usr/local/bin/tool ~/Library/Mail/Desktop >/dev/null", {tilde, protectedFolder}},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(issuesOf(line), expected) << line;
    // A PATH or MAILTO anywhere in the crontab, even empty and after the job, silences its check.
    EXPECT_EQ(issuesOf("0 9 * * * backup.sh", "MAILTO=\n"), List{path});
    const Crontab after = Crontab::parsing("0 9 * * * backup.sh\nPATH=/bin\n");
    EXPECT_EQ(titles(CronDiagnostics::issues(after.jobs().front(), after)), List{nowhere});
}

TEST_F(CronDiagnosticsTest, messagesNameTheProgramAsTheMachineHasIt) {
    const Crontab table;
    const auto issues = CronDiagnostics::commandIssues("/usr/local/bin/missing --x", table);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].explanation, "There is nothing at " + root.resolve("/usr/local/bin/missing").string() + ".");
    EXPECT_EQ(issues[0].severity, Issue::Severity::error);
    const auto bare = CronDiagnostics::commandIssues("X=1 backup.sh", table);
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_NE(bare[0].explanation.find("“backup.sh” will not be found"), std::string::npos);
    EXPECT_TRUE(CronDiagnostics::commandIssues("", table).empty());
}

}  // namespace
}  // namespace qw::test
