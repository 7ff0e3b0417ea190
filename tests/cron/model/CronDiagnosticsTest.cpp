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
const std::string refused = "cron refuses this schedule";
const std::string neverRuns = "This never runs";

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
        {"0 9 * * * /usr/local/bin/tool |logger", {}},
        {"0 9 * * * /usr/local/bin/missing >/dev/null", {missing}},
        {"0 9 * * * /usr/local/bin/script.sh >/dev/null", {cannotRun}},
        {"0 9 * * * PATH=/opt/bin:/usr/bin backup.sh >/dev/null", {path}},
        {"0 9 * * * A=1 B=2", {path, nowhere}},
        {"0 9 * * * /usr/local/bin/tool date +%Y-%m-%d >/dev/null", {percent}},
        {"0 9 * * * /usr/local/bin/tool date +\\%Y-\\%m-\\%d >/dev/null", {}},
        {"0 9 * * * /usr/local/bin/tool date +\\%Y-%m >/dev/null", {percent}},  // each % by itself
        {"0 9 * * * /usr/local/bin/tool date +\\\\%Y >/dev/null", {percent}},    // the backslash is escaped
        {"61 25 * * * /usr/local/bin/tool >/dev/null", {refused}},
        {"@foo /usr/local/bin/tool >/dev/null", {refused}},
        {"@Daily /usr/local/bin/tool >/dev/null", {refused}},
        {"* 24 * * * /usr/local/bin/tool >/dev/null", {refused}},  // never runs, so not every minute
        {"* * * * * * /usr/local/bin/tool >/dev/null", {refused}},  // six fields: "*" is no program
        {"* * * * 1-5 /usr/local/bin/tool", {everyMinute, nowhere}},
        {"0 9 1 * 1 /usr/local/bin/tool >/dev/null", {dayOr}},
        {"0 9 1 * * /usr/local/bin/tool >/dev/null", {}},
        {"0 9 1,15 * 1-5 /usr/local/bin/tool >/dev/null", {dayOr}},
        {"0 9 1-31/2 * 1-5 /usr/local/bin/tool >/dev/null", {dayOr}},
        {"0 9 */2 * 1-5 /usr/local/bin/tool >/dev/null", {}},  // a field starting with "*" makes cron AND
        {"0 9 1-5 * */2 /usr/local/bin/tool >/dev/null", {}},
        {"*/1 * * * * /usr/local/bin/tool >/dev/null", {everyMinute}},
        {"0 9 * * 7-1 /usr/local/bin/tool >/dev/null", {neverRuns}},  // installs, never runs: nothing else matters
        {"@reboot /usr/local/bin/tool >/dev/null", {reboot}},
        {"0 9 * * * cd ~/Documents && ./run", {protectedFolder, nowhere}},
        {"0 9 * * * /usr/local/bin/tool ~/Library/Mail/Desktop >/dev/null", {protectedFolder}},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(issuesOf(line), expected) << line;
    // A PATH or MAILTO anywhere in the crontab, even after the job, silences its check.
    EXPECT_EQ(issuesOf("0 9 * * * backup.sh", "MAILTO=me@example.com\n"), List{path});
    const Crontab after = Crontab::parsing("0 9 * * * backup.sh\nPATH=/bin\n");
    EXPECT_EQ(titles(CronDiagnostics::issues(after.jobs().front(), after)), List{nowhere});

    const Crontab refusing = Crontab::parsing("61 25 * * * /usr/local/bin/tool >/dev/null\n");
    const auto found = CronDiagnostics::issues(refusing.jobs().front(), refusing);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].severity, Issue::Severity::error);
    EXPECT_TRUE(found[0].explanation.starts_with("“61” is not a minute: cron takes 0–59. The line never runs"));

    const Crontab backwards = Crontab::parsing("0 9 * * 7-1 /usr/local/bin/tool >/dev/null\n");
    const auto never = CronDiagnostics::issues(backwards.jobs().front(), backwards);
    ASSERT_EQ(never.size(), 1u);
    EXPECT_EQ(never[0].severity, Issue::Severity::warning);
}

// Lines from real crontabs that the checks once misread.
TEST_F(CronDiagnosticsTest, realLinesAreReadAsCronReadsThem) {
    using List = std::vector<std::string>;
    // A % cuts the command even where another one is escaped.
    EXPECT_EQ(issuesOf("0 3 * * * /usr/local/bin/tool > /var/backups/db-$(date +\\%F)-%H.sql"), List{percent});
    // Blanks around "=" still set the variable.
    EXPECT_EQ(issuesOf("0 9 * * * backup.sh", "MAILTO = me@example.org\nPATH = /usr/local/bin:/usr/bin:/bin\n"), List{});
    // A pipe needs no blanks.
    EXPECT_EQ(issuesOf("*/5 * * * * /bin/date |/usr/bin/logger -t heartbeat"), List{});
}

// Lines from real crontabs that cron and sh run as meant: none may raise the check it once did.
TEST_F(CronDiagnosticsTest, whatShAndCronDoIsNoAlarm) {
    using List = std::vector<std::string>;
    root.writeFile("/bin/bash", "", 0755);
    root.writeFile("/bin/rm", "", 0755);
    root.writeFile("/usr/bin/rsync", "", 0755);
    root.writeFile("/usr/bin/notes", "", 0644);
    const std::string home = root.paths().home().string();
    const std::string macHome = "/Users/" + SystemPaths::loginName();
    const std::string logged = " >> /tmp/log 2>&1";
    const std::pair<std::string, List> cases[] = {
        // The program: builtins and keywords, words sh expands, and what is on cron's own PATH.
        {"cd /srv/app && ./run.sh" + logged, {}},
        {". /etc/profile; /usr/local/bin/tool" + logged, {}},
        {"export A=1; /usr/local/bin/tool" + logged, {}},
        {"exec /usr/local/bin/tool" + logged, {}},
        {"echo hello" + logged, {}},
        {"[ -x /usr/local/bin/tool ] && /usr/local/bin/tool" + logged, {}},
        {"(cd /srv && ./x)" + logged, {}},
        {"~/bin/duck.sh" + logged, {}},
        {"\"$HOME\"/x.sh" + logged, {}},
        {"$GET" + logged, {}},
        {"bash /srv/x.sh" + logged, {}},
        {"rsync -a /srv/ /backup/" + logged, {}},
        {"rm -f /tmp/x" + logged, {}},
        {"crontab -l > /tmp/crontab.bak", {}},
        {"ls /srv" + logged, {}},         // the machine lacks it; the host that would run it has it
        {"notes" + logged, {path}},       // there, but cannot be run
        {"backup.sh" + logged, {path}},
        // Tildes: sh expands one that starts a word, follows a redirection or starts an assignment's value.
        {"/usr/local/bin/tool > ~/log 2>&1", {}},
        {"/usr/local/bin/tool >>~/log.txt 2>&1", {}},
        {"A=~/x B=/y:~/z /usr/local/bin/tool" + logged, {}},
        {"/usr/local/bin/tool" + logged + " # see ~/notes", {}},
        {"/usr/local/bin/tool --config=~/x" + logged, {tilde}},
        {"/usr/local/bin/tool '~/x'" + logged, {tilde}},
        {"/usr/local/bin/tool \"~/x\"" + logged, {tilde}},
        {"/usr/local/bin/tool \\~/x" + logged, {tilde}},
        // A -c script is read again by its shell, and a command substitution is a word list of its own.
        {"/bin/bash -l -c 'cd ~/Sites/app && ./run.sh'" + logged, {}},
        {"sh -c \"~/bin/x\"" + logged, {}},
        {"/usr/local/bin/tool \"$(stat -c \\%s ~/.file)\"" + logged, {}},
        {"/usr/local/bin/tool \"`ls ~/x`\"" + logged, {}},
        {"/usr/local/bin/tool HEAD~1" + logged, {}},  // starts no path
        {"/bin/bash -c 'echo \"~/x\"'" + logged, {tilde}},
        {"/usr/local/bin/tool -c '~/x'" + logged, {tilde}},
        {"/usr/local/bin/tool \"$(echo '~/x')\"" + logged, {tilde}},
        // Protected folders: only the user's own, and not in a comment.
        {"/usr/local/bin/tool /home/someone/Documents/x" + logged, {}},
        {"/usr/local/bin/tool /Users/other/Desktop" + logged, {}},
        {"/usr/local/bin/tool ~/DocumentsOld" + logged, {}},
        {"/usr/local/bin/tool" + logged + " # ~/Downloads", {}},
        {"/usr/local/bin/tool ~/Documents/x" + logged, {protectedFolder}},
        {"/usr/local/bin/tool $HOME/Desktop" + logged, {protectedFolder}},
        {"/usr/local/bin/tool ${HOME}/Downloads" + logged, {protectedFolder}},
        {"/usr/local/bin/tool \"$HOME\"/Downloads/a" + logged, {protectedFolder}},
        {"/usr/local/bin/tool " + home + "/Library/Mail" + logged, {protectedFolder}},
        {"/usr/local/bin/tool '" + macHome + "/Documents/a b'" + logged, {protectedFolder}},
        // Output: a redirection in a comment is none.
        {"/usr/local/bin/tool # > /tmp/log", {nowhere}},
        {"/usr/local/bin/tool 'a#b' > /tmp/log", {}},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(issuesOf("0 9 * * * " + line), expected) << line;
    // An empty MAILTO, quoted or not, switches mail off: output that is not redirected is lost.
    for (const std::string mailto : {"MAILTO=\"\"\n", "MAILTO=''\n", "MAILTO=\n"}) {
        const Crontab table = Crontab::parsing(mailto + "0 9 * * * /usr/local/bin/tool\n");
        const auto found = CronDiagnostics::outputIssues(table.jobs().front().command, table);
        ASSERT_EQ(titles(found), List{nowhere}) << mailto;
        EXPECT_TRUE(found[0].explanation.starts_with("MAILTO is empty, so cron mails nothing")) << found[0].explanation;
    }
    EXPECT_EQ(issuesOf("0 9 * * * /usr/local/bin/tool > /tmp/log", "MAILTO=\"\"\n"), List{});
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

    // A path that already names the machine's own file is not put under the root again.
    const std::string real = root.resolve("/usr/local/bin/missing").string();
    const auto typed = CronDiagnostics::commandIssues(real, table);
    ASSERT_EQ(typed.size(), 1u);
    EXPECT_EQ(typed[0].explanation, "There is nothing at " + real + ".");
    EXPECT_TRUE(CronDiagnostics::commandIssues(root.resolve("/usr/local/bin/tool").string(), table).empty());

    // What the machine lacks runs from the host, as the stand-ins run it; the machine's own copy comes first.
    EXPECT_TRUE(CronDiagnostics::commandIssues("/bin/echo hi", table).empty());
    root.writeFile("/bin/sh", "", 0644);
    EXPECT_EQ(titles(CronDiagnostics::commandIssues("/bin/sh -c true", table)), std::vector{cannotRun});
}

}  // namespace
}  // namespace qw::test
