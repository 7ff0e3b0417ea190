// The helper executable's command line and one-shot mode, run for real in a sandbox machine.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstdlib>

#include "helperkit/AtomicFile.h"
#include "tests/helper/HelperTestSupport.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct HelperCommandLine : ::testing::Test {
    test::SandboxRoot root;
    fs::path logFile = root.path() / "helper.log";

    void SetUp() override { ::setenv("QUILLWICK_LOG_FILE", logFile.c_str(), 1); }
    void TearDown() override { ::unsetenv("QUILLWICK_LOG_FILE"); }

    Subprocess::Result helper(const std::vector<std::string>& arguments) const {
        return Subprocess::run(test::builtHelper().string(), arguments);
    }
    Subprocess::Result oneShot(const HelperRequest& request) const { return oneShotBytes(request.jsonData()); }
    Subprocess::Result oneShotBytes(const std::string& bytes) const {
        const fs::path file = root.path() / "request.json";
        writeFileAtomically(file, bytes);
        auto result = helper({"one-shot", file.string()});
        EXPECT_TRUE(fs::exists(file));  // only the application removes it
        return result;
    }
};

TEST_F(HelperCommandLine, usageErrorsGoToStandardErrorWithStatus64) {
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"one-shot"}, "usage: QuillwickHelper one-shot <request-file>\n"},
        {{"one-shot", "a", "b"}, "usage: QuillwickHelper one-shot <request-file>\n"},
        {{"--help"}, "QuillwickHelper: unknown argument\n"},
        {{"a", "b"}, "QuillwickHelper: unknown argument\n"},
        {{"One-shot", "x"}, "QuillwickHelper: unknown argument\n"},
    };
    for (const auto& c : cases) {
        const auto result = helper(c.arguments);
        EXPECT_EQ(result.exitStatus, 64);
        EXPECT_EQ(result.standardError, c.error);
        EXPECT_EQ(result.standardOutput, "");
    }
    EXPECT_FALSE(fs::exists(logFile));
}

TEST_F(HelperCommandLine, oneShotRepliesOnStandardOutputAndExitsByTheReply) {
    auto result = helper({"one-shot", "/missing/file"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(HelperResponse::fromJson(result.standardOutput).message.value_or(""),
                StartsWith("The helper could not read the request file: "));

    HelperRequest version;
    version.reason = "version";
    result = oneShot(version);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, R"({"succeeded":true,"helperVersion":"1.0.1"})");  // no line feed

    version.version = 2;
    result = oneShot(version);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_THAT(result.standardOutput, HasSubstr("sent version 2."));

    const std::string path = root.resolve("/Library/LaunchAgents/com.example.agent.plist").string();
    result = oneShot(test::request(HelperRequest::Write{path, test::bytes(test::jobPlist("com.example.agent"))},
                                   "save com.example.agent"));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(HelperResponse::fromJson(result.standardOutput).message, "Saved com.example.agent.plist.");
    result = oneShot(test::request(HelperRequest::Delete{path}, "delete\ncom.example.agent"));
    EXPECT_EQ(result.exitStatus, 0);
    result = oneShot(test::request(HelperRequest::Delete{path}, "delete again"));
    EXPECT_EQ(result.exitStatus, 1);

    const std::string log = test::readFile(logFile);
    EXPECT_THAT(log, HasSubstr("[privileged] notice: wrote " + path + " — save com.example.agent\n"));
    EXPECT_THAT(log, HasSubstr("deleted " + path + " — delete\\x0acom.example.agent\n"));
    EXPECT_THAT(log, HasSubstr("[privileged] error: refused: Could not delete com.example.agent.plist: No such file"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("sent version")));
}

TEST_F(HelperCommandLine, undecodableRequestFilesDoNotEchoTheirBytes) {
    const struct {
        std::string bytes;
        std::string message;
    } cases[] = {
        {R"({"version":1,"operation":{"read":{"path":"/a.plist"},"delete":{"path":"/a.plist"}},"reason":"x"})",
         "The helper could not read the request file: Invalid number of keys found, expected one."},
        {"secret-token-xyz", ""},
        {R"({"version":1,"operation":{"launchctl":{"verb":"secret-token","domain":"system"}},"reason":"x"})", ""},
        {R"({"version":1e999,"operation":{"version":{}},"reason":"secret-token"})", ""},
    };
    for (const auto& c : cases) {
        const auto result = oneShotBytes(c.bytes);
        EXPECT_EQ(result.exitStatus, 1);
        const auto reply = HelperResponse::fromJson(result.standardOutput);
        if (!c.message.empty()) {
            EXPECT_EQ(reply.message, c.message);
        }
        EXPECT_THAT(reply.message.value_or(""), ::testing::Not(HasSubstr("secret-token")));
        EXPECT_THAT(reply.message.value_or(""), ::testing::Not(HasSubstr("1e999")));
    }
}

}  // namespace
}  // namespace qw
