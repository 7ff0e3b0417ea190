#include <gtest/gtest.h>

#include "ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

TEST(CrontabToolWithoutFullDiskAccess, refusesToListAndToInstallAndChangesNothing) {
    SandboxRoot root;
    const auto tool = root.paths().crontab();
    ASSERT_EQ(runTool(tool, {"-"}, "0 9 * * * /bin/old\n").exitStatus, 0);
    const std::string refusal =
        "crontab: " + root.resolve("/private/var/at/tabs").string() + "/" + SystemPaths::loginName() +
        ": Operation not permitted\n";
    const Subprocess::Environment denied{{"QUILLWICK_CRONTAB", "denied"}};
    for (const auto& [arguments, input] :
         {std::pair<std::vector<std::string>, std::string>{{"-l"}, ""}, {{"-"}, "0 1 * * * /bin/new\n"}}) {
        const auto result = runTool(tool, arguments, input, denied);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError, refusal);
    }
    EXPECT_EQ(runTool(tool, {"-l"}).standardOutput, "0 9 * * * /bin/old\n");
}

}  // namespace
}  // namespace qw::test
