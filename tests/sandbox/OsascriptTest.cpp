#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// The application's escaping for an AppleScript string literal: backslashes first, then quotes.
std::string escaped(std::string text)
{
    std::string result;
    for (char c : text) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    return result;
}

std::string elevatedScript(const std::string& command, const std::string& reason)
{
    return "do shell script \"" + escaped(command) + "\" with administrator privileges with prompt \""
           + "Quillwick needs your password to " + escaped(reason) + ".\"";
}

class Osascript : public ::testing::Test {
protected:
    Subprocess::Result run(const std::string& script, Subprocess::Environment environment = {})
    {
        return runTool(root.paths().osascript(), {"-e", script}, std::string(), std::move(environment));
    }

    SandboxRoot root;
    fs::path marker = root.path() / "ran";
    // Quotes of both kinds and a backslash, the characters the escaping is for.
    std::string command = "printf '%s' 'He said \"hi\" \\ there' > '" + marker.string() + "'; echo done";
};

TEST_F(Osascript, anAcceptedPromptRunsTheCommandWithItsEscapesUndone)
{
    for (const char* answer : {"", "accept"}) {
        fs::remove(marker);
        Subprocess::Environment environment;
        if (*answer)
            environment["QUILLWICK_PROMPT"] = answer;
        const auto result = run(elevatedScript(command, "load “a \"job\" \\ here”"), environment);
        ASSERT_EQ(result.exitStatus, 0) << result.standardError;
        EXPECT_EQ(result.standardOutput, "done\n");
        EXPECT_EQ(readFile(marker), "He said \"hi\" \\ there");
    }
}

TEST_F(Osascript, theResultIsTheCommandsOutputWithReturnsForLineEnds)
{
    const auto result = run(elevatedScript("printf 'one\\ntwo\\n\\n'", "x"));
    ASSERT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "one\rtwo\r\n");
}

TEST_F(Osascript, aDismissedOrFailedPromptRunsNothing)
{
    const std::string script = elevatedScript(command, "remove a job");
    const std::string range = "0:" + std::to_string(script.size()) + ": ";

    auto result = run(script, {{"QUILLWICK_PROMPT", "cancel"}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, range + "execution error: User canceled. (-128)\n");
    EXPECT_FALSE(fs::exists(marker));

    result = run(script, {{"QUILLWICK_PROMPT", "fail"}});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError,
              range + "execution error: The administrator user name or password was incorrect. (-60005)\n");
    EXPECT_THAT(result.standardError, ::testing::Not(HasSubstr("-128")));
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(Osascript, aFailingCommandIsAnExecutionErrorWithItsOutputAndStatus)
{
    auto result = run(elevatedScript("echo 'no such helper' >&2; exit 3", "x"));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(result.standardError, HasSubstr("execution error: no such helper (3)\n"));
    EXPECT_EQ(result.standardOutput, "");

    result = run(elevatedScript("exit 5", "x"));
    EXPECT_THAT(result.standardError, HasSubstr("execution error: The command exited with a non-zero status. (5)\n"));

    // A refusing helper exits 1 with its reply on standard output; the reply still gets through.
    result = run(elevatedScript("printf '{}'; exit 1", "x"));
    EXPECT_EQ(result.standardOutput, "{}\n");
}

TEST_F(Osascript, refusesScriptsItDoesNotUnderstand)
{
    const std::string touch = "touch '" + marker.string() + "'";
    for (const std::string& script :
         {std::string("display dialog \"hi\""), "do shell script \"" + touch, "do shell script \"" + touch + "\" and more",
          "do shell script \"" + touch + "\\q\""}) {
        const auto result = run(script);
        EXPECT_EQ(result.exitStatus, 1) << script;
        EXPECT_THAT(result.standardError, HasSubstr("syntax error")) << script;
    }
    EXPECT_FALSE(fs::exists(marker));

    const auto result = runTool(root.paths().osascript(), {"script.scpt"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(result.standardError, HasSubstr("usage: osascript"));
}

}  // namespace
}  // namespace qw::test
