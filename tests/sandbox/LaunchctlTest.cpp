// The stand-in launchctl, run as the application runs it: each test in a machine root of its own, jobs
// started for real, their records read back through the application's own readers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "Quillwick/launchd/DisabledOverrides.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/LaunchctlOutput.h"
#include "Quillwick/launchd/RuntimeState.h"
#include "support/Eventually.h"
#include "support/SandboxRoot.h"
#include "support/SystemUser.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::SandboxRoot;
using test::eventually;
using test::readFile;

const std::string kGui = "gui/" + std::to_string(::geteuid());

std::string xmlEscaped(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// A job file whose program is `/bin/sh -c script`; `extra` is more XML inside the dictionary.
fs::path writeJob(const SandboxRoot& root, const std::string& label, const std::string& script,
                  const std::string& extra = "<key>RunAtLoad</key><true/>")
{
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "<key>Label</key><string>" + label + "</string>\n"
        "<key>ProgramArguments</key><array><string>/bin/sh</string><string>-c</string><string>" +
        xmlEscaped(script) + "</string></array>\n" + extra + "\n</dict>\n</plist>\n";
    return root.writeFile("/Users/jobs/" + label + ".plist", text);
}

// kill(pid, 0), except that a zombie counts as gone: where init does not reap, orphans linger as zombies.
bool alive(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

std::optional<RuntimeState> printed(const SandboxRoot& root, const std::string& label)
{
    const auto result = root.launchctl({"print", kGui + "/" + label});
    if (!result.succeeded())
        return std::nullopt;
    return RuntimeState::fromPrintOutput(result.standardOutput);
}

std::optional<LaunchctlListEntry> listed(const SandboxRoot& root, const std::string& label)
{
    const auto result = root.launchctl({"list"});
    EXPECT_EQ(result.exitStatus, 0);
    for (const auto& entry : LaunchctlListEntry::parse(result.standardOutput))
        if (entry.label == label)
            return entry;
    return std::nullopt;
}

// The supervisors' pids are recorded only in the state file.
std::vector<pid_t> supervisorPids(const SandboxRoot& root)
{
    std::vector<pid_t> pids;
    const auto state = nlohmann::json::parse(
        readFile(root.path() / "private/var/db/launchd" / ("gui-" + std::to_string(::geteuid()) + ".json")));
    for (const auto& [label, service] : state["services"].items())
        if (service.contains("supervisorPid"))
            pids.push_back(service["supervisorPid"].get<pid_t>());
    return pids;
}

// Starts the root's launchctl and returns at once, its output thrown away.
pid_t startLaunchctl(const SandboxRoot& root, const std::vector<std::string>& arguments)
{
    std::vector<std::string> words{root.paths().launchctl().string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(error, 0);
    return pid;
}

// The root's launchctl run as another user, with no groups.
Subprocess::Result launchctlAs(const SandboxRoot& root, uid_t uid, gid_t gid, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"--reuid=" + std::to_string(uid), "--regid=" + std::to_string(gid),
                                         "--clear-groups", root.paths().launchctl().string()});
    return Subprocess::run("/usr/bin/setpriv", arguments, std::nullopt,
                           Subprocess::Environment{{"QUILLWICK_ROOT", root.path().string()}});
}

TEST(LaunchctlTest, bootstrappedJobWritesItsOutputAndReportsItsExit)
{
    SandboxRoot root;
    // The job's paths are the machine's: a macOS path lies under the root, one already there stays.
    const std::string out = "/Library/Logs/out.log";
    const fs::path err = root.path() / "err.log";
    const fs::path job = writeJob(root, "com.example.once", "echo \"hello $GREETING\"; pwd; echo oops >&2; exit 3",
                                  "<key>RunAtLoad</key><true/>"
                                  "<key>StandardOutPath</key><string>/" + out + "</string>"
                                  "<key>StandardErrorPath</key><string>" + err.string() + "</string>"
                                  "<key>WorkingDirectory</key><string>/Users/jobs</string>"
                                  "<key>EnvironmentVariables</key><dict><key>GREETING</key><string>world</string></dict>");
    const auto result = root.launchctl({"bootstrap", kGui, job.string()});
    ASSERT_EQ(result.exitStatus, 0) << result.standardError;

    ASSERT_TRUE(eventually([&] { return listed(root, "com.example.once")->lastExit == RuntimeState::ExitStatus::code(3); }));
    EXPECT_EQ(readFile(root.paths().resolve(out)), "hello world\n" + (root.path() / "Users/jobs").string() + "\n");
    EXPECT_EQ(readFile(err), "oops\n");
    const auto entry = listed(root, "com.example.once");
    EXPECT_EQ(entry->pid, std::nullopt);
    EXPECT_EQ(entry->lastExit, RuntimeState::ExitStatus::code(3));

    const auto state = printed(root, "com.example.once");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->path, job.string());
    EXPECT_EQ(state->type, "LaunchAgent");
    EXPECT_EQ(state->state, "not running");
    EXPECT_EQ(state->program, "/bin/sh");
    EXPECT_EQ(state->arguments,
              (std::vector<std::string>{"/bin/sh", "-c", "echo \"hello $GREETING\"; pwd; echo oops >&2; exit 3"}));
    EXPECT_EQ(state->workingDirectory, "/Users/jobs");
    EXPECT_EQ(state->standardOutPath, "/" + out);
    EXPECT_EQ(state->standardErrorPath, err.string());
    EXPECT_EQ(state->environment,
              (std::map<std::string, std::string>{{"GREETING", "world"}, {"XPC_SERVICE_NAME", "com.example.once"}}));
    EXPECT_EQ(state->defaultEnvironment.at("PATH"), "/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_TRUE(state->inheritedEnvironment.contains("SSH_AUTH_SOCK"));
    ASSERT_TRUE(state->domain && state->domain->starts_with(kGui + " ["));
    EXPECT_EQ("[" + *state->raw->string("asid") + "]", state->domain->substr(kGui.size() + 1));
    EXPECT_EQ(state->jobState, "exited");
    EXPECT_EQ(state->runs, 1);
    EXPECT_EQ(state->pid, std::nullopt);
    EXPECT_EQ(state->lastExit, RuntimeState::ExitStatus::code(3));
    EXPECT_EQ(state->properties, (std::vector<std::string>{"runatload", "inferred program"}));
}

TEST(LaunchctlTest, runningJobShowsItsPidAndAnswersKillAndKickstart)
{
    SandboxRoot root;
    const std::string label = "com.example.sleeper";
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, label, "exec sleep 30").string()}).exitStatus, 0);

    const auto running = printed(root, label);
    ASSERT_TRUE(running && running->pid);
    EXPECT_EQ(running->state, "running");
    EXPECT_EQ(running->lastExit, RuntimeState::ExitStatus::neverExited());
    EXPECT_EQ(running->summary(), "Running (pid " + std::to_string(*running->pid) + ")");
    EXPECT_TRUE(alive(*running->pid));
    EXPECT_EQ(listed(root, label)->pid, running->pid);

    // kill TERM reaches the job, and its supervisor records the signal.
    ASSERT_EQ(root.launchctl({"kill", "TERM", kGui + "/" + label}).exitStatus, 0);
    ASSERT_TRUE(eventually([&] { return listed(root, label)->lastExit == RuntimeState::ExitStatus::signal(15); }));
    EXPECT_NE(root.launchctl({"list"}).standardOutput.find("-\t-15\t" + label + "\n"), std::string::npos);
    EXPECT_EQ(printed(root, label)->lastExit, RuntimeState::ExitStatus::signal(15));
    const auto notRunning = root.launchctl({"kill", "TERM", kGui + "/" + label});
    EXPECT_EQ(notRunning.exitStatus, 3);

    // kickstart starts a stopped job; -k kills the running one and starts it again.
    ASSERT_EQ(root.launchctl({"kickstart", kGui + "/" + label}).exitStatus, 0);
    const auto second = printed(root, label);
    ASSERT_TRUE(second && second->pid);
    EXPECT_EQ(second->runs, 2);
    ASSERT_EQ(root.launchctl({"kickstart", kGui + "/" + label}).exitStatus, 0);
    EXPECT_EQ(printed(root, label)->pid, second->pid) << "kickstart without -k leaves a running job alone";

    ASSERT_EQ(root.launchctl({"kickstart", "-k", kGui + "/" + label}).exitStatus, 0);
    const auto third = printed(root, label);
    ASSERT_TRUE(third && third->pid);
    EXPECT_EQ(third->runs, 3);
    EXPECT_NE(third->pid, second->pid);
    EXPECT_EQ(third->lastExit, RuntimeState::ExitStatus::signal(9));
    EXPECT_TRUE(eventually([&] { return !alive(*second->pid); }));
}

TEST(LaunchctlTest, bootstrapRefusesAsLaunchdDoes)
{
    SandboxRoot root;
    const fs::path job = writeJob(root, "com.example.twice", "exit 0", "");
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);

    const auto loaded = root.launchctl({"bootstrap", kGui, job.string()});
    EXPECT_EQ(loaded.exitStatus, 5);
    const std::string asRoot = "Try re-running the command as root for richer errors.\n";
    EXPECT_EQ(loaded.standardError, "Bootstrap failed: 5: Input/output error\n" + asRoot);

    const auto missing = root.launchctl({"bootstrap", kGui, (root.path() / "nothing.plist").string()});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.standardError, "Bootstrap failed: 2: No such file or directory\n" + asRoot);
    // The system domain is the helper's, which runs as root.
    const auto missingDaemon = root.launchctl({"bootstrap", "system", (root.path() / "nothing.plist").string()});
    EXPECT_EQ(missingDaemon.standardError, "Bootstrap failed: 2: No such file or directory\n");

    const fs::path garbage = root.writeFile("/Users/jobs/garbage.plist", "not a property list");
    EXPECT_EQ(root.launchctl({"bootstrap", kGui, garbage.string()}).exitStatus, 5);
    const fs::path noProgram = root.writeFile("/Users/jobs/noprogram.plist",
                                              "<plist><dict><key>Label</key><string>x</string></dict></plist>");
    EXPECT_EQ(root.launchctl({"bootstrap", kGui, noProgram.string()}).exitStatus, 5);

    const auto log = readFile(root.path() / "private/var/log/launchd.log");
    EXPECT_NE(log.find("garbage.plist"), std::string::npos) << "a refusal says why in the log";
    EXPECT_NE(log.find("[" + kGui + "/com.example.twice:] Bootstrap failed: service already loaded"), std::string::npos);

    const auto unknownDomain = root.launchctl({"bootstrap", "nowhere/1", job.string()});
    EXPECT_EQ(unknownDomain.exitStatus, 64);
}

TEST(LaunchctlTest, disabledRecordsBlockBootstrapAndOutliveBootout)
{
    SandboxRoot root;
    const std::string label = "com.example.switch";
    const fs::path job = writeJob(root, label, "exit 0", "");
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"disable", kGui + "/" + label}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"enable", kGui + "/com.example.other"}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"disable", "system/com.example.daemon"}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootout", kGui + "/" + label}).exitStatus, 0);

    const auto gui = root.launchctl({"print-disabled", kGui});
    ASSERT_EQ(gui.exitStatus, 0);
    EXPECT_EQ(DisabledOverrides::fromPrintDisabledOutput(gui.standardOutput).entries,
              (std::map<std::string, bool>{{label, true}, {"com.example.other", false}}));
    EXPECT_EQ(DisabledOverrides::fromPrintDisabledOutput(root.launchctl({"print-disabled", "system"}).standardOutput).entries,
              (std::map<std::string, bool>{{"com.example.daemon", true}}));

    const auto refused = root.launchctl({"bootstrap", kGui, job.string()});
    EXPECT_EQ(refused.exitStatus, 119);
    EXPECT_NE(refused.standardError.find("Bootstrap failed: 119: Service is disabled"), std::string::npos);
    EXPECT_FALSE(printed(root, label));

    ASSERT_EQ(root.launchctl({"enable", kGui + "/" + label}).exitStatus, 0);
    EXPECT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);

    // A job file's own Disabled key counts until an override says otherwise.
    const fs::path offByDefault = writeJob(root, "com.example.off", "exit 0", "<key>Disabled</key><true/>");
    EXPECT_EQ(root.launchctl({"bootstrap", kGui, offByDefault.string()}).exitStatus, 119);
}

TEST(LaunchctlTest, programThatCannotStartRecordsExConfigAndLogsIt)
{
    SandboxRoot root;
    const fs::path job = root.writeFile("/Users/jobs/missing.plist",
                                        "<plist><dict><key>Label</key><string>com.example.missing</string>"
                                        "<key>Program</key><string>/no/such/program</string>"
                                        "<key>RunAtLoad</key><true/></dict></plist>");
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);
    ASSERT_TRUE(eventually([&] { return printed(root, "com.example.missing")->lastExit.has_value() &&
                                        printed(root, "com.example.missing")->lastExit->number() == 78; }));
    const auto state = printed(root, "com.example.missing");
    EXPECT_EQ(state->lastExit, RuntimeState::ExitStatus::code(78, "EX_CONFIG"));
    EXPECT_EQ(state->runs, 1);
    EXPECT_EQ(listed(root, "com.example.missing")->lastExit, RuntimeState::ExitStatus::code(78));

    // The log tool parses these lines: a microsecond local timestamp, launchd[1], the bracketed service.
    const std::regex exitLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}[+-]\d{4} launchd\[1\]: \[)" + kGui +
                              R"(/com\.example\.missing \[\d+\]:\] exited with exit code: 78)");
    const std::string log = readFile(root.path() / "private/var/log/launchd.log");
    std::istringstream lines(log);
    int matching = 0;
    for (std::string line; std::getline(lines, line);)
        matching += std::regex_match(line, exitLine) ? 1 : 0;
    EXPECT_EQ(matching, 1) << log;
    EXPECT_NE(log.find("/no/such/program"), std::string::npos);

    // A job that runs at load with the given program keys, and the exit it is seen to make.
    const auto exitsWith = [&](const std::string& label, const std::string& keys, int code) {
        const fs::path file = root.writeFile("/Users/jobs/" + label + ".plist",
                                             "<plist><dict><key>Label</key><string>" + label + "</string>" + keys +
                                                 "<key>RunAtLoad</key><true/></dict></plist>");
        return root.launchctl({"bootstrap", kGui, file.string()}).exitStatus == 0 &&
               eventually([&] { return printed(root, label)->lastExit == RuntimeState::ExitStatus::code(code); });
    };
    // Without Program, a bare first argument is looked up in PATH, as execvp does.
    EXPECT_TRUE(exitsWith("com.example.bare", "<key>ProgramArguments</key><array><string>true</string></array>", 0));
    // A program the machine holds runs from under its root, where the job checks look for it.
    root.writeFile("/usr/local/bin/rooted", "#!/bin/sh\nexit 7\n", 0755);
    EXPECT_TRUE(exitsWith("com.example.rooted", "<key>Program</key><string>/usr/local/bin/rooted</string>", 7));
}

TEST(LaunchctlTest, keepAliveRestartsUntilRepeatedFastExitsLandInThePenaltyBox)
{
    SandboxRoot root;
    const std::string label = "com.example.flaky";
    const fs::path job = writeJob(root, label, "exit 1",
                                  "<key>KeepAlive</key><true/><key>ThrottleInterval</key><integer>1</integer>");
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);

    // Three fast exits in a row; on a busy machine a slow one starts the count again.
    ASSERT_TRUE(eventually([&] { return printed(root, label)->isThrottled(); }, 60s));
    const auto throttled = printed(root, label);
    ASSERT_TRUE(throttled->runs);
    const std::int64_t runs = *throttled->runs;
    EXPECT_GE(runs, 3);
    EXPECT_EQ(throttled->pid, std::nullopt);
    EXPECT_EQ(throttled->summary(), "Waiting — launchd is throttling restarts after repeated failures");
    EXPECT_EQ(throttled->state, "spawn scheduled");
    EXPECT_EQ(throttled->properties, (std::vector<std::string>{"keepalive", "penalty box", "inferred program"}));
    // Its supervisor has let it go, so nothing starts it again until a kickstart.
    const auto supervisors = supervisorPids(root);
    ASSERT_EQ(supervisors.size(), 1u);
    ASSERT_TRUE(eventually([&] { return !alive(supervisors.front()); }));
    // launchd pushed each restart after a fast exit out by the throttle interval, and said so: at least
    // for the two before the last exit. The supervisor logs an exit after recording it, so the log is
    // whole only once it is gone.
    const std::string log = readFile(root.path() / "private/var/log/launchd.log");
    const std::regex pushedOut("Service only ran for 0 seconds\\. Pushing respawn out by 1 seconds\\.");
    const auto pushes = std::distance(std::sregex_iterator(log.begin(), log.end(), pushedOut), std::sregex_iterator());
    EXPECT_GE(pushes, 2);
    EXPECT_LT(pushes, runs);
    EXPECT_NE(log.find("in the penalty box; it waits for a kickstart."), std::string::npos);
    EXPECT_EQ(printed(root, label)->runs, runs) << "the penalty box keeps it waiting";

    // A kickstart lets it out and starts it again.
    ASSERT_EQ(root.launchctl({"kickstart", kGui + "/" + label}).exitStatus, 0);
    const auto released = printed(root, label);
    EXPECT_EQ(released->runs, runs + 1);
    EXPECT_FALSE(released->isThrottled());
}

TEST(LaunchctlTest, conditionalKeepAliveRestartsOnlyWhenItsConditionHolds)
{
    SandboxRoot root;
    const std::string keepOnFailure =
        "<key>KeepAlive</key><dict><key>SuccessfulExit</key><false/></dict><key>ThrottleInterval</key><integer>1</integer>";
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.clean", "exit 0", keepOnFailure).string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.failing", "exit 2", keepOnFailure).string()}).exitStatus, 0);

    EXPECT_TRUE(eventually([&] { return printed(root, "com.example.failing")->runs >= 2; }));
    EXPECT_EQ(printed(root, "com.example.clean")->runs, 1);
    EXPECT_EQ(printed(root, "com.example.clean")->lastExit, RuntimeState::ExitStatus::code(0));
    EXPECT_EQ(printed(root, "com.example.clean")->state, "not running");
}

TEST(LaunchctlTest, machServiceIsStartedAgainAfterItDies)
{
    SandboxRoot root;
    const std::string label = "com.example.mach";
    const fs::path job = writeJob(root, label, "exec sleep 30",
                                  "<key>MachServices</key><dict><key>com.example.mach</key><true/></dict>"
                                  "<key>ThrottleInterval</key><integer>1</integer>");
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, job.string()}).exitStatus, 0);
    auto running = printed(root, label);
    ASSERT_TRUE(running && running->pid);

    // Crashes in quick succession only space its starts out: the next message would start it, so it
    // never waits in the penalty box for a kickstart.
    for (int crash = 1; crash <= 4; ++crash) {
        const pid_t crashed = *running->pid;
        ::kill(crashed, SIGKILL);
        ASSERT_TRUE(eventually([&] {
            running = printed(root, label);
            return running && running->pid && *running->pid != crashed;
        }, 30s)) << "crash " << crash;
        EXPECT_FALSE(running->isThrottled());
    }
    EXPECT_EQ(printed(root, label)->runs, 5);
    EXPECT_EQ(printed(root, label)->lastExit, RuntimeState::ExitStatus::signal(9));
    // The start is logged after it is recorded.
    EXPECT_TRUE(eventually([&] {
        return readFile(root.path() / "private/var/log/launchd.log").find("because ipc (mach)") != std::string::npos;
    }));
}

TEST(LaunchctlTest, everyUserReadsLaunchdButOnlyTheRootsOwnerChangesIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run launchctl as another user";
    SandboxRoot root;
    fs::permissions(root.path(), fs::perms(0755));  // the other user must reach the state
    const std::string label = "com.example.shared";
    const std::string target = "system/" + label;
    const fs::path job = writeJob(root, label, "exec sleep 30");
    ASSERT_EQ(root.launchctl({"bootstrap", "system", job.string()}).exitStatus, 0);
    const auto asStranger = [&](const std::vector<std::string>& arguments) {
        return launchctlAs(root, 4242, 4242, arguments);
    };

    const auto read = asStranger({"print", target});
    ASSERT_EQ(read.exitStatus, 0) << read.standardError;
    const auto state = RuntimeState::fromPrintOutput(read.standardOutput);
    ASSERT_TRUE(state && state->pid) << "a job another user runs is seen running";
    for (const std::vector<std::string>& reading : {std::vector<std::string>{"print", "system"},
                                                    {"print-disabled", "system"}, {"list"}})
        EXPECT_EQ(asStranger(reading).exitStatus, 0) << reading.front();

    const fs::path stateFile = root.path() / "private/var/db/launchd/system.json";
    const std::string before = readFile(stateFile);
    const std::pair<std::vector<std::string>, std::string> changes[] = {
        {{"bootout", target}, "Boot-out failed: 1: Operation not permitted\n"},
        {{"bootstrap", "system", job.string()}, "Bootstrap failed: 1: Operation not permitted\n"},
        {{"kickstart", "-k", target}, "Could not kickstart service \"com.example.shared\": 1: Operation not permitted\n"},
        {{"kill", "TERM", target}, "Could not kill service: 1: Operation not permitted\n"},
        {{"disable", target}, "Not privileged to set domain overrides.\n"},
        {{"sandbox-halt"}, "launchctl: only the owner of this machine root may halt its launchd.\n"},
    };
    for (const auto& [arguments, refusal] : changes) {
        const auto result = asStranger(arguments);
        EXPECT_EQ(result.exitStatus, 1) << arguments.front();
        EXPECT_EQ(result.standardError, refusal);
    }
    EXPECT_EQ(readFile(stateFile), before);
    EXPECT_TRUE(alive(*state->pid));
}

// flock(1) run as `user` on `file`, in a process group of its own that is ended with the holder.
// Holds nothing when the user cannot open or take it.
class LockHolder {
public:
    LockHolder(const test::SystemUser& user, const fs::path& file, const char* mode)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> words{"/usr/bin/setpriv", "--reuid=" + std::to_string(user.uid()),
                                       "--regid=" + std::to_string(user.gid()), "--clear-groups",
                                       "/usr/bin/flock", "-n", mode, file.string(),
                                       "/bin/sh", "-c", "echo held; exec sleep 60"};
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        char path[] = "PATH=/usr/bin:/bin";
        char* environment[] = {path, nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environment) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(ends[1]);
        pollfd entry{ends[0], POLLIN, 0};
        char said[5] = {};
        held_ = pid_ > 0 && ::poll(&entry, 1, 10000) == 1 && ::read(ends[0], said, 4) == 4 &&
                std::string(said) == "held";
        ::close(ends[0]);
    }
    ~LockHolder()
    {
        if (pid_ <= 0)
            return;
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

TEST(LaunchctlTest, noLockAPlainUserCanTakeHoldsUpAChange)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to make a plain user";
    SandboxRoot root;
    fs::permissions(root.path(), fs::perms(0755));
    const test::SystemUser plain("qwlock", false);
    ASSERT_TRUE(plain.exists());
    // Changed once, so that every file the launchd keeps is there to be locked.
    ASSERT_EQ(root.launchctl({"disable", "system/com.example.first"}).exitStatus, 0);
    const fs::path folder = root.path() / "private/var/db/launchd";
    std::vector<fs::path> files{folder};
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path());

    for (const char* mode : {"-s", "-x"}) {
        SCOPED_TRACE(mode);
        std::vector<std::unique_ptr<LockHolder>> holders;
        for (const fs::path& file : files)
            holders.push_back(std::make_unique<LockHolder>(plain, file, mode));
        ASSERT_TRUE(holders.front()->held()) << "the folder itself is the user's to lock";

        const std::string label = std::string("com.example.held") + mode;
        const auto loaded = root.launchctl({"bootstrap", "system", writeJob(root, label, "exec sleep 30").string()});
        EXPECT_EQ(loaded.exitStatus, 0) << loaded.standardError;
        EXPECT_EQ(root.launchctl({"bootout", "system/" + label}).exitStatus, 0);
        EXPECT_EQ(root.launchctl({"disable", "system/" + label}).exitStatus, 0);
        const auto read = launchctlAs(root, plain.uid(), plain.gid(), {"print-disabled", "system"});
        EXPECT_EQ(read.exitStatus, 0) << read.standardError;
        EXPECT_NE(read.standardOutput.find(label), std::string::npos);
    }
}

TEST(LaunchctlTest, systemDomainRefusesAJobFileOthersCouldHaveWritten)
{
    SandboxRoot root;
    struct Case {
        std::string label;
        unsigned mode;
        std::optional<uid_t> owner;
    };
    std::vector<Case> cases{{"com.example.anyone", 0666, {}}, {"com.example.group", 0664, {}}};
    if (::geteuid() == 0)
        cases.push_back({"com.example.stranger", 0644, 4242});
    for (const auto& [label, mode, owner] : cases) {
        SCOPED_TRACE(label);
        const fs::path job = writeJob(root, label, "exec sleep 30");
        ::chmod(job.c_str(), mode);
        if (owner) {
            ASSERT_EQ(::chown(job.c_str(), *owner, *owner), 0);
        }

        const auto refused = root.launchctl({"bootstrap", "system", job.string()});
        EXPECT_EQ(refused.exitStatus, 5);
        EXPECT_EQ(refused.standardError,
                  job.string() + ": Path had bad ownership/permissions\nBootstrap failed: 5: Input/output error\n");
        EXPECT_EQ(root.launchctl({"print", "system/" + label}).exitStatus, 113);
        EXPECT_NE(readFile(root.path() / "private/var/log/launchd.log")
                      .find("[system:] Caller specified a plist with bad ownership/permissions: path = " + job.string()),
                  std::string::npos);
    }

    // The owner of the sandbox root stands in for root.
    if (::geteuid() == 0) {
        const fs::path job = writeJob(root, "com.example.standin", "exit 0", "");
        ASSERT_EQ(::chown(job.c_str(), 4242, 4242), 0);
        ASSERT_EQ(::chown(root.path().c_str(), 4242, 4242), 0);
        const auto loaded = root.launchctl({"bootstrap", "system", job.string()});
        EXPECT_EQ(loaded.exitStatus, 0) << loaded.standardError;
        ASSERT_EQ(::chown(root.path().c_str(), 0, 0), 0);
    }
}

TEST(LaunchctlTest, bootoutStopsTheProcessEvenOneThatIgnoresTerm)
{
    SandboxRoot root;
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.polite", "exec sleep 30").string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", kGui,
                              writeJob(root, "com.example.stubborn", "trap '' TERM; while :; do sleep 0.1; done").string()})
                  .exitStatus, 0);
    const auto polite = printed(root, "com.example.polite")->pid;
    const auto stubborn = printed(root, "com.example.stubborn")->pid;
    ASSERT_TRUE(polite && stubborn);
    const auto supervisors = supervisorPids(root);
    ASSERT_EQ(supervisors.size(), 2u);

    ASSERT_EQ(root.launchctl({"bootout", kGui + "/com.example.polite"}).exitStatus, 0);
    EXPECT_FALSE(alive(*polite));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(root.launchctl({"bootout", kGui + "/com.example.stubborn"}).exitStatus, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s) << "a stop wait is bounded";
    EXPECT_FALSE(alive(*stubborn));
    for (const pid_t supervisor : supervisors)
        EXPECT_TRUE(eventually([&] { return !alive(supervisor); }));

    const auto gone = root.launchctl({"print", kGui + "/com.example.polite"});
    EXPECT_EQ(gone.exitStatus, 113);
    EXPECT_NE(gone.standardError.find("Could not find service \"com.example.polite\""), std::string::npos);
    const auto again = root.launchctl({"bootout", kGui + "/com.example.polite"});
    EXPECT_EQ(again.exitStatus, 3);
    EXPECT_EQ(again.standardError, "Boot-out failed: 3: No such process\n");
    EXPECT_FALSE(listed(root, "com.example.polite"));
}

TEST(LaunchctlTest, pidOfAJobWhoseSupervisorDiedIsNeitherShownNorSignalled)
{
    SandboxRoot root;
    const std::string label = "com.example.unwatched";
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, label, "trap 'touch signalled' TERM; sleep 30 & wait",
                                                          "<key>RunAtLoad</key><true/><key>WorkingDirectory</key><string>" +
                                                              root.path().string() + "</string>").string()})
                  .exitStatus, 0);
    const auto job = printed(root, label)->pid;
    ASSERT_TRUE(job);
    const auto supervisors = supervisorPids(root);
    ASSERT_EQ(supervisors.size(), 1u);
    ::kill(supervisors[0], SIGKILL);
    ASSERT_TRUE(eventually([&] { return !alive(supervisors[0]); }));

    EXPECT_EQ(listed(root, label)->pid, std::nullopt);
    EXPECT_EQ(printed(root, label)->state, "not running");
    EXPECT_EQ(root.launchctl({"kill", "TERM", kGui + "/" + label}).exitStatus, 3);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(fs::exists(root.path() / "signalled"));
    ::kill(-*job, SIGKILL);  // the orphan is this test's to end
}

TEST(LaunchctlTest, twentyConcurrentCallsLoseNoState)
{
    SandboxRoot root;
    std::vector<fs::path> jobs;
    for (int i = 0; i < 10; ++i)
        jobs.push_back(writeJob(root, "com.example.crowd" + std::to_string(i), "exec sleep 20"));

    std::vector<int> statuses(20, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&, i] {
            if (i % 2 == 0)
                statuses[i] = root.launchctl({"bootstrap", kGui, jobs[i / 2].string()}).exitStatus;
            else if (i % 4 == 1)
                statuses[i] = root.launchctl({"disable", kGui + "/com.example.off" + std::to_string(i)}).exitStatus;
            else
                statuses[i] = root.launchctl({"list"}).exitStatus;
        });
    }
    for (auto& thread : threads)
        thread.join();

    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(statuses[i], 0) << "call " << i;
    for (int i = 0; i < 10; ++i) {
        const auto entry = listed(root, "com.example.crowd" + std::to_string(i));
        ASSERT_TRUE(entry) << i;
        EXPECT_TRUE(entry->pid && alive(*entry->pid)) << i;
    }
    const auto disabled = DisabledOverrides::fromPrintDisabledOutput(root.launchctl({"print-disabled", kGui}).standardOutput);
    EXPECT_EQ(disabled.entries, (std::map<std::string, bool>{{"com.example.off1", true}, {"com.example.off5", true},
                                                            {"com.example.off9", true}, {"com.example.off13", true},
                                                            {"com.example.off17", true}}));
}

TEST(LaunchctlTest, callsKilledHalfwayLeaveTheStateWhole)
{
    SandboxRoot root;
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.kept", "exit 0", "").string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"disable", kGui + "/com.example.before"}).exitStatus, 0);

    // Cut off at ever later moments, some of them while writing the state.
    for (int i = 0; i < 60; ++i) {
        const pid_t pid = startLaunchctl(root, {"disable", kGui + "/com.example.cut" + std::to_string(i)});
        std::this_thread::sleep_for(std::chrono::microseconds(150 * i));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }

    ASSERT_EQ(root.launchctl({"list"}).exitStatus, 0) << "the state still reads";
    EXPECT_TRUE(listed(root, "com.example.kept"));
    const auto disabled = root.launchctl({"print-disabled", kGui});
    ASSERT_EQ(disabled.exitStatus, 0);
    const auto entries = DisabledOverrides::fromPrintDisabledOutput(disabled.standardOutput).entries;
    EXPECT_EQ(entries.count("com.example.before"), 1u);
    for (const auto& [label, isDisabled] : entries)
        EXPECT_TRUE(isDisabled) << label;
    // A holder of the lock that was killed leaves no lock behind.
    EXPECT_EQ(root.launchctl({"disable", kGui + "/com.example.after"}).exitStatus, 0);
}

TEST(LaunchctlTest, sandboxHaltLeavesNoProcessBehind)
{
    SandboxRoot root;
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.a", "exec sleep 30").string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.b", "sleep 30 & wait").string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", "system",
                              writeJob(root, "com.example.waiting", "exit 1",
                                       "<key>KeepAlive</key><true/><key>ThrottleInterval</key><integer>5</integer>")
                                  .string()})
                  .exitStatus, 0);
    std::vector<pid_t> pids = supervisorPids(root);
    for (const char* label : {"com.example.a", "com.example.b"})
        pids.push_back(*printed(root, label)->pid);
    ASSERT_EQ(pids.size(), 4u);

    const auto halted = root.launchctl({"sandbox-halt"});
    EXPECT_EQ(halted.exitStatus, 0) << halted.standardError;
    for (const pid_t pid : pids)
        EXPECT_FALSE(alive(pid)) << pid;
    EXPECT_EQ(listed(root, "com.example.a")->pid, std::nullopt);
    const auto system = RuntimeState::fromPrintOutput(root.launchctl({"print", "system/com.example.waiting"}).standardOutput);
    ASSERT_TRUE(system);
    EXPECT_EQ(system->state, "not running");
    EXPECT_EQ(system->type, "LaunchDaemon");
}

TEST(LaunchctlTest, supervisorEndsItselfAndItsJobWhenTheRootDisappears)
{
    std::vector<pid_t> pids;
    {
        SandboxRoot root;
        ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.orphan", "exec sleep 30").string()}).exitStatus, 0);
        pids = supervisorPids(root);
        pids.push_back(*printed(root, "com.example.orphan")->pid);
        // Taken away under the launchd's feet, before the test support would halt it.
        fs::remove_all(root.path());
    }
    for (const pid_t pid : pids)
        EXPECT_TRUE(eventually([&] { return !alive(pid); }, 3s)) << pid;
}

TEST(LaunchctlTest, supervisorEndsItselfAndItsJobWhenAnotherRootTakesItsPlace)
{
    SandboxRoot root;
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.orphan", "exec sleep 30").string()}).exitStatus, 0);
    std::vector<pid_t> pids = supervisorPids(root);
    pids.push_back(*printed(root, "com.example.orphan")->pid);
    // Deleted and laid afresh at the same path at once, as a demo machine is laid again.
    const fs::path old = root.path().string() + ".old";
    fs::rename(root.path(), old);
    fs::create_directories(root.path() / "private/var/db/launchd");
    fs::remove_all(old);
    for (const pid_t pid : pids)
        EXPECT_TRUE(eventually([&] { return !alive(pid); }, 3s)) << pid;
}

TEST(LaunchctlTest, damagedStateIsReportedAndNeverOverwritten)
{
    SandboxRoot root;
    const fs::path stateFile = root.path() / "private/var/db/launchd" / ("gui-" + std::to_string(::geteuid()) + ".json");
    root.writeFile("/private/var/db/launchd/gui-" + std::to_string(::geteuid()) + ".json", "{\"services\": {");

    const auto list = root.launchctl({"list"});
    EXPECT_EQ(list.exitStatus, 5);
    EXPECT_NE(list.standardError.find("damaged"), std::string::npos);
    EXPECT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, "com.example.late", "exit 0", "").string()}).exitStatus, 5);
    EXPECT_EQ(root.launchctl({"disable", kGui + "/com.example.late"}).exitStatus, 5);
    EXPECT_EQ(readFile(stateFile), "{\"services\": {");
    EXPECT_EQ(root.launchctl({"list"}).exitStatus, 5);
    EXPECT_EQ(root.launchctl({"print-disabled", "system"}).exitStatus, 0) << "other domains are unaffected";
}

// A row of a domain's services block as real launchd pads it: pid in 8 columns, status in 6, a blank
// and a tab before the label.
const std::regex kServicesRow(R"(\t\t[ 0-9]{8} [ 0-9()a-z-]{6} \t\S+)");

std::vector<std::string> servicesRows(const std::string& text)
{
    std::vector<std::string> rows;
    std::istringstream lines(text);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "\tservices = {")
            inside = true;
        else if (line == "\t}")
            inside = false;
        else if (inside)
            rows.push_back(line);
    }
    return rows;
}

std::string sample(const std::string& name)
{
    return readFile(fs::path(QUILLWICK_TEST_DATA) / "launchctl-samples" / name);
}

std::vector<std::string> serviceKeys(const std::string& text)
{
    std::vector<std::string> keys;
    if (const auto block = LaunchctlOutput::parseService(text))
        for (const auto& entry : block->entries)
            keys.push_back(entry.key);
    return keys;
}

// The keys both texts hold come in the same order, and every key ours prints is one a real Mac prints.
void expectShapeOf(const std::string& ours, const std::string& realName)
{
    SCOPED_TRACE(realName);
    const auto mine = serviceKeys(ours);
    const auto real = serviceKeys(sample(realName));
    std::set<std::string> known;
    for (const auto& file : fs::directory_iterator(fs::path(QUILLWICK_TEST_DATA) / "launchctl-samples"))
        for (const auto& key : serviceKeys(readFile(file.path())))
            known.insert(key);
    std::vector<std::string> shared, realShared;
    for (const auto& key : mine) {
        EXPECT_TRUE(known.contains(key)) << key;
        if (std::find(real.begin(), real.end(), key) != real.end())
            shared.push_back(key);
    }
    for (const auto& key : real)
        if (std::find(mine.begin(), mine.end(), key) != mine.end())
            realShared.push_back(key);
    EXPECT_EQ(shared, realShared);
    EXPECT_GE(shared.size(), 12u);
}

TEST(LaunchctlTest, printedServicesHaveTheShapeOfARealMacs)
{
    SandboxRoot root;
    const std::string crash = "com.example.crash";
    ASSERT_EQ(root.launchctl({"bootstrap", kGui, writeJob(root, crash, "kill -SEGV $$",
                                                          "<key>RunAtLoad</key><true/><key>StartCalendarInterval</key>"
                                                          "<dict><key>Hour</key><integer>3</integer>"
                                                          "<key>Minute</key><integer>15</integer></dict>").string()})
                  .exitStatus,
              0);
    // "(never exited)" is a last exit too: wait for the crash itself.
    ASSERT_TRUE(eventually([&] { return printed(root, crash)->lastExit == RuntimeState::ExitStatus::signal(11); }));
    const std::string text = root.launchctl({"print", kGui + "/" + crash}).standardOutput;
    expectShapeOf(text, "print-gui-calendar-neverexited.openclaw-backup-2026-08-22.txt");
    expectShapeOf(text, "print-gui-exit127.motherboard-repair.txt");

    // A signal death names the signal only, and reads as the crash it was.
    const auto state = RuntimeState::fromPrintOutput(text);
    EXPECT_FALSE(state->raw->value("last exit code")) << text;
    EXPECT_EQ(state->raw->string("last terminating signal"), "Segmentation fault: 11");
    EXPECT_EQ(state->summary(), "Not running — last exit killed by SIGSEGV");
    EXPECT_EQ(state->jobState, "exited");
    const auto* triggers = state->raw->block("event triggers");
    ASSERT_TRUE(triggers && triggers->entries.size() == 1u) << text;
    const auto* trigger = triggers->entries[0].value.blockValue();
    ASSERT_TRUE(trigger);
    EXPECT_EQ(trigger->string("stream"), "com.apple.launchd.calendarinterval");
    EXPECT_EQ(trigger->dictionary("descriptor"), (std::map<std::string, std::string>{{"Hour", "3"}, {"Minute", "15"}}));
    EXPECT_NE(root.launchctl({"list"}).standardOutput.find("-\t-11\t" + crash + "\n"), std::string::npos);

    // A Program-only job has no arguments block.
    const auto bare = root.writeFile("/Users/jobs/bare.plist",
                                     "<plist><dict><key>Label</key><string>com.example.sleepy</string>"
                                     "<key>Program</key><string>/bin/sleep</string></dict></plist>");
    ASSERT_EQ(root.launchctl({"bootstrap", "system", bare.string()}).exitStatus, 0);
    const std::string daemon = root.launchctl({"print", "system/com.example.sleepy"}).standardOutput;
    expectShapeOf(daemon, "print-system-exit1.ipados18.txt");
    EXPECT_EQ(daemon.find("arguments"), std::string::npos) << daemon;
    const auto sleepy = RuntimeState::fromPrintOutput(daemon);
    EXPECT_EQ(sleepy->domain, "system");
    EXPECT_EQ(sleepy->program, "/bin/sleep");
    EXPECT_EQ(sleepy->lastExit, RuntimeState::ExitStatus::neverExited());
    EXPECT_TRUE(sleepy->properties.empty());
}

TEST(LaunchctlTest, domainServicesRowsHaveTheShapeOfARealMacs)
{
    for (const char* name : {"domain-system.macos26-dumpstate.TRIMMED.txt", "domain-system.ipados18.txt"}) {
        const auto rows = servicesRows(readFile(fs::path(QUILLWICK_TEST_DATA) / "launchctl-samples" / name));
        EXPECT_GT(rows.size(), 10u) << name;
        for (const auto& row : rows)
            EXPECT_TRUE(std::regex_match(row, kServicesRow)) << name << ": " << row;
    }
}

TEST(LaunchctlTest, domainPrintListsEveryServiceOfTheDomain)
{
    SandboxRoot root;
    ASSERT_EQ(root.launchctl({"bootstrap", "system", writeJob(root, "com.example.idle", "exit 0", "").string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", "system", writeJob(root, "com.example.up", "exec sleep 30").string()}).exitStatus, 0);
    const auto pid = RuntimeState::fromPrintOutput(root.launchctl({"print", "system/com.example.up"}).standardOutput)->pid;
    ASSERT_TRUE(pid);

    const auto result = root.launchctl({"print", "system"});
    ASSERT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.standardOutput.find("\n\t\t       0      - \tcom.example.idle\n"), std::string::npos)
        << result.standardOutput;
    EXPECT_EQ(servicesRows(result.standardOutput).size(), 2u);
    for (const auto& row : servicesRows(result.standardOutput)) EXPECT_TRUE(std::regex_match(row, kServicesRow)) << row;
    EXPECT_EQ(LaunchctlListEntry::parseDomainServices(result.standardOutput),
              (std::vector<LaunchctlListEntry>{{"com.example.idle", std::nullopt, RuntimeState::ExitStatus::neverExited()},
                                               {"com.example.up", *pid, RuntimeState::ExitStatus::neverExited()}}));
    EXPECT_EQ(result.standardOutput.rfind("system = {\n", 0), 0u);
    EXPECT_TRUE(LaunchctlListEntry::parse(root.launchctl({"list"}).standardOutput).empty()) << "list shows the gui domain only";
}

TEST(LaunchctlTest, errorCodesUsageAndTheMissingRoot)
{
    SandboxRoot root;
    const std::vector<std::pair<std::string, std::string>> codes{
        {"1", "1: Operation not permitted\n"},
        {"5", "5: Input/output error\n"},
        {"78", "78: Function not implemented\n"},
        {"113", "113: Could not find specified service\n"},
        {"119", "119: Service is disabled\n"},
    };
    for (const auto& [code, text] : codes) {
        const auto result = root.launchctl({"error", code});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput, text);
    }
    EXPECT_EQ(root.launchctl({"error", "many"}).exitStatus, 64);

    const auto unknown = root.launchctl({"frobnicate"});
    EXPECT_EQ(unknown.exitStatus, 64);
    EXPECT_TRUE(unknown.standardOutput.empty());
    EXPECT_NE(unknown.standardError.find("Usage: launchctl"), std::string::npos);
    EXPECT_EQ(root.launchctl({}).exitStatus, 64);
    EXPECT_EQ(root.launchctl({"kill", "NOTASIGNAL", kGui + "/x"}).exitStatus, 64);
    EXPECT_EQ(root.launchctl({"kickstart", kGui + "/com.example.none"}).exitStatus, 113);

    // Without a root it refuses before touching anything: the tool's own file (not a root's link to it)
    // belongs to no machine.
    const auto bare = Subprocess::run((SandboxRoot::toolsDirectory() / "launchctl").string(), {"list"}, std::nullopt,
                                      Subprocess::Environment{{"PATH", "/usr/bin:/bin"}});
    EXPECT_EQ(bare.exitStatus, 64);
    EXPECT_NE(bare.standardError.find("QUILLWICK_ROOT"), std::string::npos);
    EXPECT_TRUE(bare.standardOutput.empty());
}

}  // namespace
}  // namespace qw
