// The stand-ins run by hand through a machine root's own links, as a person at a shell runs them: with
// no QUILLWICK_ROOT they take their machine from the link.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "Quillwick/launchd/RuntimeState.h"
#include "support/Eventually.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

// A zombie counts as gone: where init does not reap, orphans linger as zombies.
bool ends(pid_t pid)
{
    return eventually([pid] {
        return ::kill(pid, 0) != 0 || readFile("/proc/" + std::to_string(pid) + "/stat").find(") Z") != std::string::npos;
    });
}

TEST(LinkedRoot, eachStandInFindsItsMachineFromTheLinkItRanThrough)
{
    SandboxRoot root;
    const Subprocess::Environment bare{{"PATH", "/usr/bin:/bin"}};
    const auto run = [&](const char* tool, const std::vector<std::string>& arguments, std::string input = {}) {
        return Subprocess::run(root.resolve(tool).string(), arguments, input, bare);
    };

    ASSERT_EQ(run("/usr/bin/crontab", {"-"}, "0 9 * * * /bin/x\n").exitStatus, 0);
    EXPECT_EQ(readFile(root.resolve("/private/var/at/tabs") / SystemPaths::loginName()), "0 9 * * * /bin/x\n");
    EXPECT_EQ(run("/usr/bin/crontab", {"-l"}).standardOutput, "0 9 * * * /bin/x\n");

    const std::string gui = "gui/" + std::to_string(::geteuid());
    const auto plist = root.writeFile(
        "/Users/jobs/com.example.linked.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "<key>Label</key><string>com.example.linked</string>\n"
        "<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string>"
        "<string>exec sleep 30</string></array>\n<key>RunAtLoad</key><true/>\n</dict>\n</plist>\n");
    const auto loaded = run("/bin/launchctl", {"bootstrap", gui, plist.string()});
    ASSERT_EQ(loaded.exitStatus, 0) << loaded.standardError;
    // Found by name on PATH, as a shell finds it.
    const auto listed = Subprocess::run("/bin/sh", {"-c", "launchctl list"}, std::nullopt,
                                        Subprocess::Environment{{"PATH", root.resolve("/bin").string() + ":/usr/bin:/bin"}});
    EXPECT_NE(listed.standardOutput.find("com.example.linked"), std::string::npos) << listed.standardError;
    const auto log = run("/usr/bin/log", {"show", "--last", "5m", "--style", "compact", "--predicate", "process == \"launchd\""});
    EXPECT_NE(log.standardOutput.find("com.example.linked"), std::string::npos);
    // What osascript runs is on the same machine.
    const auto script = run("/usr/bin/osascript", {"-e", "do shell script \"echo $QUILLWICK_ROOT\" with administrator privileges"});
    EXPECT_EQ(script.standardOutput, root.path().string() + "\n");

    const auto state = RuntimeState::fromPrintOutput(root.launchctl({"print", gui + "/com.example.linked"}).standardOutput);
    ASSERT_TRUE(state && state->pid);
    const auto halted = run("/bin/launchctl", {"sandbox-halt"});
    EXPECT_EQ(halted.exitStatus, 0) << halted.standardError;
    EXPECT_TRUE(ends(static_cast<pid_t>(*state->pid)));
}

}  // namespace
}  // namespace qw::test
