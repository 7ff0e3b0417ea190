#include "Quillwick/launchd/Launchctl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "Quillwick/launchd/JobDefinition.h"
#include "helperkit/SystemPaths.h"
#include "support/Eventually.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using test::eventually;

// The fake below pins the exact argument lists and odd outputs; this runs the same calls against the
// sandbox's stand-in launchd, so the readers meet the text a launchd actually prints.
std::optional<LaunchctlListEntry> listed(const Launchctl& launchctl, const std::string& label) {
    for (const auto& entry : launchctl.list())
        if (entry.label == label) return entry;
    return std::nullopt;
}

TEST(Launchctl, drivesTheStandInLaunchdThroughAJobsLife) {
    test::SandboxRoot root;
    const Launchctl launchctl;
    const std::string label = "com.example.sleeper";
    JobDefinition job(label, JobLocation::forLabel(JobDirectory::userAgents, label));
    job.setProgramArguments({"/bin/sleep", "30"});
    job.setRunAtLoad(true);
    std::filesystem::create_directories(job.location->url.parent_path());
    job.file.write(job.location->url);
    const ServiceTarget target = job.serviceTarget();

    ASSERT_EQ(launchctl.bootstrap(job.domain(), job.location->url.string()).exitStatus, 0);
    const auto again = launchctl.bootstrap(job.domain(), job.location->url.string());
    EXPECT_EQ(again.exitStatus, 5);
    EXPECT_EQ(launchctl.failureMessage("Load", again.exitStatus, again.standardError),
              "Bootstrap failed: 5: Input/output error\nTry re-running the command as root for richer errors.");
    EXPECT_EQ(launchctl.failureMessage("Load", again.exitStatus, ""), "Load failed: Input/output error");

    const auto running = launchctl.print(target);
    ASSERT_TRUE(running && running->pid);
    EXPECT_EQ(running->path, job.location->url.string());
    EXPECT_EQ(running->arguments, job.programArguments());
    EXPECT_EQ(running->lastExit, RuntimeState::ExitStatus::neverExited());
    EXPECT_EQ(running->summary(), "Running (pid " + std::to_string(*running->pid) + ")");
    const auto entry = listed(launchctl, label);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->pid, running->pid);
    EXPECT_EQ(entry->lastExit, RuntimeState::ExitStatus::code(0)) << "list shows 0 for a job that never exited";

    ASSERT_EQ(launchctl.disable(target).exitStatus, 0);
    EXPECT_EQ(launchctl.printDisabled(job.domain()).entries, (std::map<std::string, bool>{{label, true}}));
    ASSERT_EQ(launchctl.enable(target).exitStatus, 0);
    EXPECT_EQ(launchctl.printDisabled(job.domain()).entries, (std::map<std::string, bool>{{label, false}}));

    // A job stopped on request has not failed: the summary falls through to its state.
    ASSERT_EQ(launchctl.kill("TERM", target).exitStatus, 0);
    ASSERT_TRUE(eventually([&] {
        const auto e = listed(launchctl, label);
        return e && e->lastExit == RuntimeState::ExitStatus::signal(15);
    }));
    EXPECT_EQ(listed(launchctl, label)->pid, std::nullopt);
    EXPECT_EQ(launchctl.print(target)->summary(), "Not running");

    ASSERT_EQ(launchctl.kickstart(target, false).exitStatus, 0);
    const auto restarted = launchctl.print(target);
    ASSERT_TRUE(restarted && restarted->pid);
    EXPECT_EQ(restarted->runs, 2);
    ASSERT_EQ(launchctl.kickstart(target, true).exitStatus, 0);
    EXPECT_EQ(launchctl.print(target)->lastExit, RuntimeState::ExitStatus::signal(9));

    ASSERT_EQ(launchctl.bootout(target).exitStatus, 0);
    EXPECT_FALSE(launchctl.print(target)) << "an unknown service is no state, not an error";
    EXPECT_FALSE(listed(launchctl, label));
    const auto gone = launchctl.bootout(target);
    EXPECT_NE(gone.exitStatus, 0);
    EXPECT_EQ(launchctl.failureMessage("Unload", gone.exitStatus, gone.standardError),
              "Boot-out failed: 3: No such process");
}

// A machine root of the test's own whose launchctl is a shell script: it records its arguments one a
// line and then runs the given body.
class FakeLaunchctl {
public:
    explicit FakeLaunchctl(const std::string& body) : override_(SystemPaths::forRoot(folder_.path())) {
        fs::create_directories(folder_.path() / "bin");
        const auto script = folder_.path() / "bin" / "launchctl";
        std::ofstream out(script);
        out << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << argumentsFile().string() << "'\n" << body << "\n";
        out.close();
        ::chmod(script.c_str(), 0755);
    }

    std::vector<std::string> arguments() const {
        std::ifstream in(argumentsFile());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    fs::path argumentsFile() const { return folder_.path() / "arguments"; }
    test::TemporaryFolder folder_;
    SystemPaths::Override override_;
};

using Args = std::vector<std::string>;

TEST(Launchctl, verbsPassTheirArgumentListsAndResultsThrough) {
    FakeLaunchctl fake("echo out; echo err >&2; exit 3");
    const Launchctl launchctl;
    const ServiceTarget target{LaunchdDomain::gui(501), "com.example.L"};
    struct Case {
        std::function<Subprocess::Result()> call;
        Args arguments;
    };
    const Case cases[] = {
        {[&] { return launchctl.bootstrap(LaunchdDomain::gui(501), "/p/com.example.L.plist"); },
         {"bootstrap", "gui/501", "/p/com.example.L.plist"}},
        {[&] { return launchctl.bootout(target); }, {"bootout", "gui/501/com.example.L"}},
        {[&] { return launchctl.enable(target); }, {"enable", "gui/501/com.example.L"}},
        {[&] { return launchctl.disable({LaunchdDomain::system(), "d"}); }, {"disable", "system/d"}},
        {[&] { return launchctl.kickstart(target, false); }, {"kickstart", "gui/501/com.example.L"}},
        {[&] { return launchctl.kickstart(target, true); }, {"kickstart", "-k", "gui/501/com.example.L"}},
        {[&] { return launchctl.kill("TERM", target); }, {"kill", "TERM", "gui/501/com.example.L"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const auto result = c.call();
        EXPECT_EQ(fake.arguments(), c.arguments);
        EXPECT_EQ(result.exitStatus, 3);
        EXPECT_EQ(result.standardOutput, "out\n");
        EXPECT_EQ(result.standardError, "err\n");
    }
}

TEST(Launchctl, readersParseOutputOnSuccess) {
    FakeLaunchctl fake(R"(case "$1" in
list) printf 'PID\tStatus\tLabel\n42\t0\tcom.example.a\n-\t-11\tcom.example.b\n' ;;
print-disabled) printf 'disabled services = {\n\t"com.example.a" => disabled\n}\n' ;;
print) printf '%s = {\n\tstate = running\n\tpid = 42\n}\n' "$2" ;;
esac)");
    const Launchctl launchctl;

    const auto entries = launchctl.list();
    EXPECT_EQ(fake.arguments(), Args{"list"});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].pid, 42);
    EXPECT_EQ(entries[1].lastExit, RuntimeState::ExitStatus::signal(11));

    EXPECT_EQ(launchctl.printDisabled(LaunchdDomain::gui(501)).entries.at("com.example.a"), true);
    EXPECT_EQ(fake.arguments(), (Args{"print-disabled", "gui/501"}));

    const auto state = launchctl.print({LaunchdDomain::gui(501), "L"});
    EXPECT_EQ(fake.arguments(), (Args{"print", "gui/501/L"}));
    ASSERT_TRUE(state);
    EXPECT_EQ(state->pid, 42);
}

TEST(Launchctl, readersGiveNothingOnAFailingStatus) {
    FakeLaunchctl fake(R"(case "$1" in
list) printf 'PID\tStatus\tLabel\n42\t0\tcom.example.a\n' ;;
print-disabled) printf 'disabled services = {\n\t"a" => disabled\n}\n' ;;
print) printf 'x = {\n\tpid = 1\n}\n' ;;
esac
exit 113)");
    const Launchctl launchctl;
    EXPECT_TRUE(launchctl.list().empty());
    EXPECT_TRUE(launchctl.printDisabled(LaunchdDomain::system()).entries.empty());
    EXPECT_FALSE(launchctl.print({LaunchdDomain::system(), "x"}));
}

TEST(Launchctl, domainServicesComeFromPrintOfTheDomain) {
    FakeLaunchctl fake(R"(printf 'system = {\n\tservices = {\n\t\t      42      - \tcom.example.a\n\t}\n}\n'
[ "$2" = system ])");
    const Launchctl launchctl;
    const auto entries = launchctl.printDomainServices(LaunchdDomain::system());
    EXPECT_EQ(fake.arguments(), (Args{"print", "system"}));
    EXPECT_EQ(entries, (std::vector<LaunchctlListEntry>{{"com.example.a", 42, RuntimeState::ExitStatus::neverExited()}}));
    EXPECT_TRUE(launchctl.printDomainServices(LaunchdDomain::gui(501)).empty()) << "a failing status is no entries";
}

TEST(Launchctl, printWithoutAServiceBlockIsNoState) {
    FakeLaunchctl fake("echo 'just text'");
    EXPECT_FALSE(Launchctl().print({LaunchdDomain::system(), "x"}));
}

TEST(Launchctl, explainAndFailureMessage) {
    struct Case {
        const char* script;  // the fake's answer to "error <n>"
        std::optional<std::string> explanation;
        const char* messageWithoutStandardError;
    };
    const Case cases[] = {
        {"printf '  5: Input/output error \\n\\n'", "Input/output error", "Load failed: Input/output error"},
        {"printf '5:  \\n'", "", "Load failed: "},
        {"echo 'Unknown error'", "Unknown error", "Load failed: Unknown error"},
        {"printf ' \\n'", std::nullopt, "Load failed with status 5."},
        {"echo '5: text'; exit 1", std::nullopt, "Load failed with status 5."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        FakeLaunchctl fake(c.script);
        const Launchctl launchctl;
        EXPECT_EQ(launchctl.explain(5), c.explanation);
        EXPECT_EQ(fake.arguments(), (Args{"error", "5"}));
        EXPECT_EQ(launchctl.failureMessage("Load", 5, " \n\t\n"), c.messageWithoutStandardError);
        EXPECT_EQ(launchctl.failureMessage("Load", 5, "\nBootstrap failed: 5: Input/output error\n"),
                  "Bootstrap failed: 5: Input/output error");
    }
}

TEST(Launchctl, aMissingToolThrowsExceptFromExplain) {
    test::TemporaryFolder folder;
    SystemPaths::Override override(SystemPaths::forRoot(folder.path()));
    const Launchctl launchctl;
    EXPECT_THROW(launchctl.list(), Subprocess::Failure);
    EXPECT_THROW(launchctl.enable({LaunchdDomain::system(), "x"}), Subprocess::Failure);
    EXPECT_FALSE(launchctl.explain(5));
    EXPECT_EQ(launchctl.failureMessage("Enable", 5, ""), "Enable failed with status 5.");
}

}  // namespace
}  // namespace qw
