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
        "MAILTO=\n"
        "PATH = /usr/bin:/bin\n"
        "\"QUOTED\" = 'a b'\n"
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

    // An empty crontab as the application writes it, and a file named on the command line.
    ASSERT_EQ(install("\n").exitStatus, 0);
    EXPECT_EQ(crontab({"-l"}).standardOutput, "\n");
    const fs::path file = root.writeFile("/tmp/new-crontab", "@hourly /bin/h\n");
    ASSERT_EQ(crontab({file.string()}).exitStatus, 0);
    EXPECT_EQ(crontab({"-l"}).standardOutput, "@hourly /bin/h\n");

    // Only the crontab itself is left in the folder: nothing written aside stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(tabs()), fs::directory_iterator()), 1);
}

TEST_F(CrontabTool, refusesABadTextWithCronsMessagesAndKeepsTheOldOne)
{
    const std::string old = "0 1 * * * /bin/old\n";
    ASSERT_EQ(install(old).exitStatus, 0);

    const std::pair<std::string, std::string> refusals[] = {
        {"0 9 * * * /bin/ok\n60 * * * * /bin/x\n", "\"-\":2: bad minute\n"},
        {"x * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"*/0 * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"5-1 * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"5/2 * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"1,,2 * * * * /bin/x\n", "\"-\":1: bad minute\n"},
        {"# fine\n0 24 * * * /bin/x\n", "\"-\":2: bad hour\n"},
        {"0 0 0 * * /bin/x\n", "\"-\":1: bad day-of-month\n"},
        {"0 0 jan * * /bin/x\n", "\"-\":1: bad day-of-month\n"},
        {"0 0 * 13 * /bin/x\n", "\"-\":1: bad month\n"},
        {"0 0 * mon * /bin/x\n", "\"-\":1: bad month\n"},
        {"0 0 *\n", "\"-\":1: bad month\n"},
        {"0 0 * * 8 /bin/x\n", "\"-\":1: bad day-of-week\n"},
        {"0 9 * * *\n", "\"-\":1: bad command\n"},
        {"*/15 * * * *   \n", "\"-\":1: bad command\n"},
        {"@reboot\n", "\"-\":1: bad command\n"},
        {"@sometimes /bin/x\n", "\"-\":1: bad time specifier\n"},
        {"@REBOOT /bin/x\n", "\"-\":1: bad time specifier\n"},
    };
    for (const auto& [text, message] : refusals) {
        const auto result = install(text);
        EXPECT_EQ(result.exitStatus, 1) << text;
        EXPECT_EQ(result.standardError, message + refusedTail) << text;
        EXPECT_EQ(crontab({"-l"}).standardOutput, old) << text;
    }

    auto result = install("0 9 * * * /bin/x");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, "new crontab file is missing newline before EOF, can't install.\n");
    EXPECT_EQ(crontab({"-l"}).standardOutput, old);

    // A named file is named in the message.
    const fs::path file = root.writeFile("/tmp/bad", "0 9 * * * /bin/ok\n0 99 * * * /bin/x\n");
    result = crontab({file.string()});
    EXPECT_EQ(result.standardError, "\"" + file.string() + "\":2: bad hour\n" + refusedTail);
    EXPECT_EQ(crontab({"-l"}).standardOutput, old);
    EXPECT_EQ(std::distance(fs::directory_iterator(tabs()), fs::directory_iterator()), 1);
}

TEST_F(CrontabTool, refusesUsesItDoesNotOffer)
{
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"-e"}, {"-r"}, {"-l", "-"}, {"-u", "root", "-l"}}) {
        const auto result = crontab(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_THAT(result.standardError, ::testing::StartsWith("crontab: usage error: "));
    }
    EXPECT_FALSE(fs::exists(tabs() / SystemPaths::loginName()));

    const auto result = crontab({(root.path() / "missing").string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(result.standardError, ::testing::HasSubstr("No such file or directory"));
}

}  // namespace
}  // namespace qw::test
