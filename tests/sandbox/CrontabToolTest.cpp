#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

namespace fs = std::filesystem;

const std::string refusedTail = "errors in crontab file, can't install.\n";

class CrontabTool : public ::testing::Test {
protected:
    Subprocess::Result crontab(const std::vector<std::string>& arguments, const std::string& input = {})
    {
        return runTool(root.paths().crontab(), arguments, input);
    }
    Subprocess::Result install(const std::string& text) { return crontab({"-"}, text); }
    fs::path tabs() const { return root.resolve("/private/var/at/tabs"); }

    SandboxRoot root;
};

TEST_F(CrontabTool, listingWithoutACrontabSaysSoAndFails)
{
    const auto result = crontab({"-l"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "no crontab for " + SystemPaths::loginName() + "\n");
}

TEST_F(CrontabTool, installsWhatCronAcceptsAndListsItBackUnchanged)
{
    const std::string text =
        "# nightly jobs\n"
        "SHELL=/bin/sh\n"
        "MAILTO=\"\"\n"
        "PATH = /usr/bin:/bin\n"
        "\"QUOTED\" = 'a b'\n"
        "=unnamed\n"
        "\n"
        "   # an indented comment\n"
        "0 9 * * 1-5 /bin/x --flag   spaced\n"
        "*/15 0-23/2 1,15,31 JAN-mar,dec Sun,7 /bin/y\n"
        "\t5\t4\t*\t*\t0\t/bin/tabbed\n"
        "@reboot /bin/z\n"
        "@daily\t/bin/daily\n"
        "#0 18 * * fri /bin/paused\n"
        "0 0 * * * printf 'a%%b'\r\n";
    auto result = install(text);
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(result.standardOutput + result.standardError, "");

    result = crontab({"-l"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, text);

    const fs::path stored = tabs() / SystemPaths::loginName();
    struct stat info {};
    ASSERT_EQ(::stat(stored.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // What cron lets through although it looks wrong: empty ranges, an empty command, text after a
    // field's last range, a last line that is only a comment or blanks.
    for (const std::string accepted :
         {"5-1 * * * * /bin/x\n", "0 0 * * 7-0 /bin/x\n", "0 9 * * *\n", "@daily\n", "5.1 *x */2-4 * * /bin/x\n",
          "0 0 * * 5\r\n", "0 0 * * * /bin/x\n# no line feed", "0 0 * * * /bin/x\n   "}) {
        result = install(accepted);
        EXPECT_EQ(result.exitStatus, 0) << accepted << result.standardError;
        EXPECT_EQ(crontab({"-l"}).standardOutput, accepted);
    }

    // An empty crontab as the application writes it, and a file named on the command line.
    ASSERT_EQ(install("\n").exitStatus, 0);
    EXPECT_EQ(crontab({"-l"}).standardOutput, "\n");
    const fs::path file = root.writeFile("/tmp/new-crontab", "@hourly /bin/h\n");
    ASSERT_EQ(crontab({file.string()}).exitStatus, 0);
    EXPECT_EQ(crontab({"-l"}).standardOutput, "@hourly /bin/h\n");
    // Without arguments it reads standard input, as Debian's does.
    ASSERT_EQ(crontab({}, "@weekly /bin/w\n").exitStatus, 0);
    EXPECT_EQ(crontab({"-l"}).standardOutput, "@weekly /bin/w\n");

    // Only the crontab itself is left in the folder: nothing written aside stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(tabs()), fs::directory_iterator()), 1);
}

TEST_F(CrontabTool, refusesABadTextWithCronsMessagesAndKeepsTheOldOne)
{
    const std::string old = "0 1 * * * /bin/old\n";
    ASSERT_EQ(install(old).exitStatus, 0);

    // cron counts the line feeds it has read when it finds the fault: a fault inside a line names the
    // line before (the first line is 0), one found at the line's end names the line itself.
    const std::pair<std::string, std::string> refusals[] = {
        {"60 * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"0 9 * * * /bin/ok\n60 * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"\n\n# three\n60 * * * * /bin/x\n", "\"-\":3: bad minute\n"},
        {"x * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"*/0 * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"5/2 * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"1,,2 * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"5x * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"50-70 * * * * /bin/x\n", "\"-\":0: bad minute\n"},
        {"MAILTO=\n", "\"-\":0: bad minute\n"},
        {"A='unclosed\n", "\"-\":0: bad minute\n"},
        {"NAME\n", "\"-\":1: bad minute\n"},
        {"# fine\n0 24 * * * /bin/x\n", "\"-\":1: bad hour\n"},
        {"0\n", "\"-\":1: bad hour\n"},
        {"0 0 0 * * /bin/x\n", "\"-\":0: bad day-of-month\n"},
        {"0 0 jan * * /bin/x\n", "\"-\":0: bad day-of-month\n"},
        {"0 0 * 13 * /bin/x\n", "\"-\":0: bad month\n"},
        {"0 0 * January * /bin/x\n", "\"-\":0: bad month\n"},
        {"0 0 *\n", "\"-\":1: bad month\n"},
        {"0 0 * * 8 /bin/x\n", "\"-\":0: bad day-of-week\n"},
        {"0 0 * * 5x\n", "\"-\":1: bad day-of-week\n"},
        {"0 0 * * * * /bin/x\n", "\"-\":0: bad command\n"},
        {"@sometimes /bin/x\n", "\"-\":0: bad time specifier\n"},
        {"@REBOOT /bin/x\n", "\"-\":0: bad time specifier\n"},
        {"@daily/bin/x\n", "\"-\":1: bad time specifier\n"},
        {"0 0 * * * " + std::string(999, 'a') + "\n", "\"-\":1: command too long\n"},
    };
    for (const auto& [text, message] : refusals) {
        const auto result = install(text);
        EXPECT_EQ(result.exitStatus, 1) << text;
        EXPECT_EQ(result.standardError, message + refusedTail) << text;
        EXPECT_EQ(crontab({"-l"}).standardOutput, old) << text;
    }
    EXPECT_EQ(install("0 0 * * * " + std::string(998, 'a') + "\n").exitStatus, 0);
    ASSERT_EQ(install(old).exitStatus, 0);

    // A last line without its line feed is refused when it says something, and only when cron gets to it.
    for (const std::string text : {"0 9 * * * /bin/x", "0 9 * * * /bin/x\n60 * * * * /bin/y", "A=b"}) {
        const auto result = install(text);
        EXPECT_EQ(result.exitStatus, 1) << text;
        EXPECT_EQ(result.standardError, "new crontab file is missing newline before EOF, can't install.\n") << text;
        EXPECT_EQ(crontab({"-l"}).standardOutput, old);
    }
    EXPECT_EQ(install("60 * * * * /bin/x\n0 9 * * * /bin/y").standardError, "\"-\":0: bad minute\n" + refusedTail);

    std::string tooLong;
    for (int i = 0; i <= 10000; ++i)
        tooLong += "# line\n";
    auto result = install(tooLong);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, "crontab is too long; maximum number of lines is 10000.\n");
    EXPECT_EQ(crontab({"-l"}).standardOutput, old);

    // A named file is named in the message.
    const fs::path file = root.writeFile("/tmp/bad", "0 9 * * * /bin/ok\n0 99 * * * /bin/x\n");
    result = crontab({file.string()});
    EXPECT_EQ(result.standardError, "\"" + file.string() + "\":1: bad hour\n" + refusedTail);
    EXPECT_EQ(crontab({"-l"}).standardOutput, old);
    EXPECT_EQ(std::distance(fs::directory_iterator(tabs()), fs::directory_iterator()), 1);
}

TEST_F(CrontabTool, refusesUsesItDoesNotOffer)
{
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"-e"}, "unrecognized option"},
        {{"-r"}, "unrecognized option"},
        {{"-u", "root", "-l"}, "unrecognized option"},
        {{"-l", "-"}, "no arguments permitted after this option"},
        {{"-l", "-r"}, "only one operation permitted"},
        {{"--"}, "file name must be specified for replace"},
    };
    for (const auto& [arguments, problem] : refused) {
        const auto result = crontab(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_THAT(result.standardError, ::testing::StartsWith("crontab: usage error: " + problem + "\nusage:\tcrontab"));
    }
    EXPECT_FALSE(fs::exists(tabs() / SystemPaths::loginName()));

    const fs::path missing = root.path() / "missing";
    const auto result = crontab({missing.string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, missing.string() + ": No such file or directory\n");
}

}  // namespace
}  // namespace qw::test
