#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Quillwick/cron/CronDiagnostics.h"
#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/launchd/JobDiagnostics.h"
#include "Quillwick/launchd/Launchctl.h"
#include "ToolRun.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// Waits (briefly) for the stand-in launchd to have run the demo's short-lived jobs.
std::vector<LaunchctlListEntry> settledList()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    std::vector<LaunchctlListEntry> entries;
    while (std::chrono::steady_clock::now() < deadline) {
        entries = Launchctl().list();
        std::map<std::string, bool> ended;
        for (const auto& entry : entries)
            ended[entry.label] = entry.lastExit && *entry.lastExit != RuntimeState::ExitStatus::code(0);
        if (ended["com.example.config-check"] && ended["com.example.renderd"] && ended["com.example.flaky-uploader"])
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return entries;
}

class DemoMachine : public ::testing::Test {
protected:
    SandboxRoot root{SandboxRoot::Options{.demo = true}};
    std::uint32_t uid = static_cast<std::uint32_t>(::geteuid());
};

TEST_F(DemoMachine, everyJobFileReadsInItsFormatOrFailsAsIntended)
{
    const std::set<std::string> binary = {
        "com.example.quick-backup", "com.example.legacy-agent", "com.example.greeter", "com.example.leftover",
        "com.example.ticker", "net.brightwater.agent", "org.quietpine.backupd", "org.example.cleanup",
        "com.apple.cloudpaird", "com.apple.backupd-helper"};
    const std::set<std::string> broken = {"com.example.half-written"};

    std::map<std::string, int> perFolder;
    std::set<std::string> seen;
    for (const JobDirectory directory : JobDirectory::all()) {
        for (const auto& entry : fs::directory_iterator(directory.url())) {
            const std::string name = entry.path().stem().string();
            ++perFolder[std::string(directory.rawValue())];
            seen.insert(name);
            const std::string text = readFile(entry.path());
            EXPECT_THAT(text, Not(HasSubstr("@ROOT@"))) << name;
            EXPECT_THAT(text, Not(HasSubstr("@HOME@"))) << name;

            struct stat info {};
            ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
            const unsigned expectedMode = name == "com.example.shared-settings" ? 0666 : 0644;
            EXPECT_EQ(info.st_mode & 0777, expectedMode) << name;

            if (broken.count(name)) {
                EXPECT_THROW(PlistFile::read(entry.path()), PlistFile::ReadError) << name;
                continue;
            }
            try {
                const PlistFile file = PlistFile::read(entry.path());
                EXPECT_EQ(file.format, binary.count(name) ? PlistFormat::binary : PlistFormat::xml) << name;
                EXPECT_EQ(file.root.empty(), name == "com.example.leftover") << name;
            } catch (const std::exception& error) {
                ADD_FAILURE() << name << ": " << error.what();
            }
        }
    }
    EXPECT_GE(perFolder["userAgents"], 20);
    for (const char* folder : {"globalAgents", "globalDaemons", "systemAgents", "systemDaemons"})
        EXPECT_GE(perFolder[folder], 3) << folder;
    for (const auto& name : binary)
        EXPECT_TRUE(seen.count(name)) << name;

    // The substituted paths point into this root.
    const PlistFile sync = PlistFile::read(root.paths().userLaunchAgents() / "com.lumenfold.sync.plist");
    const auto arguments = sync["ProgramArguments"];
    ASSERT_TRUE(arguments && arguments->isArray());
    EXPECT_EQ(fs::path(*arguments->arrayValue()->front().stringPointer()), root.resolve("/usr/local/bin/lumenfold-sync"));

    // Laid twice, its services would collide with themselves: refused before anything is touched.
    const std::string before = readFile(root.paths().userLaunchAgents() / "com.lumenfold.sync.plist");
    const auto again = Subprocess::run(SandboxRoot::makeRootScript().string(),
                                       {root.path().string(), "--demo", "--tools", SandboxRoot::toolsDirectory().string()});
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_THAT(again.standardError, HasSubstr("needs a fresh root"));
    EXPECT_EQ(readFile(root.paths().userLaunchAgents() / "com.lumenfold.sync.plist"), before);
}

TEST_F(DemoMachine, showsEveryKindOfProblemTheDiagnosticsKnow)
{
    const auto entries = settledList();
    std::map<std::string, LaunchctlListEntry> status;
    for (const auto& entry : entries)
        status.emplace(entry.label, entry);
    const auto guiDisabled = Launchctl().printDisabled(LaunchdDomain::gui(uid)).entries;
    const auto systemDisabled = Launchctl().printDisabled(LaunchdDomain::system()).entries;

    std::vector<Job> jobs;
    std::map<std::string, int> declared;
    for (const JobDirectory directory : JobDirectory::all()) {
        for (const auto& entry : fs::directory_iterator(directory.url())) {
            const JobLocation location(directory, entry.path());
            Job job;
            try {
                job.definition = JobDefinition::fromLocation(location);
            } catch (const PlistFile::ReadError& error) {
                job.definition = JobDefinition(PlistFile(), location, std::string(error.what()));
            }
            job.label = job.definition->label();
            job.directory = directory;
            const auto& disabled = directory.isDaemon() ? systemDisabled : guiDisabled;
            job.isDisabled = disabled.count(job.label) && disabled.at(job.label);
            if (!directory.isDaemon() && status.count(job.label))
                job.status = status.at(job.label);
            ++declared[job.label];
            jobs.push_back(std::move(job));
        }
    }
    std::unordered_set<std::string> duplicates;
    for (const auto& [label, count] : declared)
        if (count > 1)
            duplicates.insert(label);

    std::map<std::string, std::set<std::string>> found;  // title → labels
    for (const Job& job : jobs)
        for (const Issue& issue : Diagnostics::issues(job, Diagnostics::FileFacts(job), duplicates))
            found[issue.title].insert(job.label);

    const std::map<std::string, std::string> expected = {
        {"This job keeps failing and being restarted", "com.example.flaky-uploader"},
        {"This job stopped with an error", "com.example.config-check"},
        {"This job is disabled", "com.example.disabled-helper"},
        {"This file is not a valid property list", "com.example.half-written"},
        {"This file declares no job", "com.example.leftover"},
        {"Anyone can edit this job's file", "com.example.shared-settings"},
        {"This job's file is not owned by root", "com.example.wrongowner"},
        {"The label does not match the filename", "com.example.notesync"},
        {"Another job has the same label", "com.example.clipboard-helper"},
        {"This job is not loaded", "com.example.greeter"},
        {"This job has no Label", "com.example.unnamed"},
        {"This job has nothing to run", "com.example.placeholder"},
        {"The program does not exist", "com.example.old-scanner"},
        {"The program cannot be run", "com.example.weekly-report"},
        {"The program is a relative path", "com.example.quick-backup"},
        {"Nothing will ever start this job", "com.example.greeter"},
        {"StartInterval will not do anything here", "com.example.heartbeat"},
        {"The log folder does not exist", "com.example.exporter"},
        {"A watched path does not exist", "com.example.inbox-watcher"},
        {"This job keeps no log", "com.example.config-check"},
        {"“Keepalive” looks like a typo", "com.example.watchdog"},
        {"“OnDemand” is deprecated", "com.example.legacy-agent"},
        {"“UserName” has no effect on an agent", "com.example.mail-fetch"},
    };
    for (const auto& [title, label] : expected)
        EXPECT_TRUE(found[title].count(label)) << "“" << title << "” not found for " << label;
    EXPECT_TRUE(found["This job stopped with an error"].count("com.example.renderd"));
    // The healthy running job stays clean.
    for (const auto& [title, labels] : found)
        EXPECT_FALSE(labels.count("com.lumenfold.sync")) << title;
}

TEST_F(DemoMachine, runsItsServicesWithTheStatesItPromises)
{
    const auto entries = settledList();
    std::map<std::string, LaunchctlListEntry> status;
    for (const auto& entry : entries)
        status.emplace(entry.label, entry);
    for (const char* running : {"com.lumenfold.sync", "com.lumenfold.menubar", "com.example.heartbeat",
                                "com.apple.cfprefsd.xpc.agent", "com.tidewell.helper"}) {
        ASSERT_TRUE(status.count(running)) << running;
        EXPECT_TRUE(status.at(running).pid.has_value()) << running;
    }
    ASSERT_TRUE(status.count("com.example.config-check"));
    EXPECT_EQ(status.at("com.example.config-check").lastExit, RuntimeState::ExitStatus::code(78));
    EXPECT_EQ(status.at("com.example.renderd").lastExit, RuntimeState::ExitStatus::signal(11));
    // Loaded, but nothing has started it.
    EXPECT_FALSE(status.at("org.quietpine.backup").pid.has_value());
    EXPECT_EQ(status.at("org.quietpine.backup").lastExit, RuntimeState::ExitStatus::code(0))
        << "list shows 0 for a job that never exited";

    // The app-registered helper has no file in any of the five folders.
    for (const JobDirectory directory : JobDirectory::all())
        EXPECT_FALSE(fs::exists(directory.url() / "com.tidewell.helper.plist"));

    const auto penalty = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
        std::optional<RuntimeState> state;
        while (std::chrono::steady_clock::now() < deadline) {
            state = Launchctl().print({LaunchdDomain::gui(uid), "com.example.flaky-uploader"});
            if (state && state->isThrottled())
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return state;
    }();
    ASSERT_TRUE(penalty.has_value());
    EXPECT_TRUE(penalty->isThrottled());
    EXPECT_EQ(penalty->state, "spawn scheduled");
    EXPECT_EQ(penalty->properties,
              (std::vector<std::string>{"keepalive", "runatload", "penalty box", "inferred program"}));

    // The crash is a signal death, which launchd prints without any exit code.
    const auto crashed = Launchctl().print({LaunchdDomain::gui(uid), "com.example.renderd"});
    ASSERT_TRUE(crashed && crashed->raw);
    EXPECT_FALSE(crashed->raw->value("last exit code"));
    EXPECT_EQ(crashed->raw->string("last terminating signal"), "Segmentation fault: 11");
    EXPECT_EQ(crashed->summary(), "Not running — last exit killed by SIGSEGV");

    for (const char* daemon : {"com.apple.syslogd", "com.lumenfold.updater", "org.quietpine.backupd"}) {
        const auto state = Launchctl().print({LaunchdDomain::system(), daemon});
        ASSERT_TRUE(state) << daemon;
        EXPECT_TRUE(state->pid.has_value()) << daemon;
        EXPECT_EQ(state->type, "LaunchDaemon") << daemon;
    }

    const auto gui = Launchctl().printDisabled(LaunchdDomain::gui(uid)).entries;
    EXPECT_EQ(gui, (std::map<std::string, bool>{
                       {"com.example.disabled-helper", true}, {"com.lumenfold.sync", false}, {"com.oldvendor.updater", true}}));
    EXPECT_EQ(Launchctl().printDisabled(LaunchdDomain::system()).entries,
              (std::map<std::string, bool>{{"com.example.disabled-daemon", true}}));

    // Laid by root, the daemon another user owns is one launchd will not load.
    if (::geteuid() == 0) {
        const auto refused = runTool(root.paths().launchctl(),
                                     {"bootstrap", "system", root.resolve("/Library/LaunchDaemons/com.example.wrongowner.plist").string()});
        EXPECT_EQ(refused.exitStatus, 5);
        EXPECT_THAT(refused.standardError, HasSubstr(": Path had bad ownership/permissions\n"));
    }
}

TEST_F(DemoMachine, hasACrontabAndRecentLaunchdLogLines)
{
    const auto list = runTool(root.paths().crontab(), {"-l"});
    ASSERT_EQ(list.exitStatus, 0);
    EXPECT_THAT(list.standardOutput, HasSubstr("\nMAILTO=\"\"\n"));
    EXPECT_THAT(list.standardOutput, HasSubstr("\n#30 18 * * fri "));
    EXPECT_THAT(list.standardOutput, HasSubstr("# Weekday morning digest.\n"));
    EXPECT_THAT(list.standardOutput, HasSubstr(root.paths().home().string()));
    // It is a crontab that crontab itself accepts.
    EXPECT_EQ(runTool(root.paths().crontab(), {"-"}, list.standardOutput).exitStatus, 0);
    // Its entries run programs the machine has.
    const Crontab crontab = Crontab::parsing(list.standardOutput);
    EXPECT_EQ(crontab.jobs().size(), 5u);
    for (const CronJob& job : crontab.jobs())
        for (const Issue& issue : CronDiagnostics::issues(job, crontab))
            EXPECT_NE(issue.severity, Issue::Severity::error) << job.command << ": " << issue.title;

    const auto log = runTool(root.paths().logTool(),
                             {"show", "--last", "60m", "--style", "compact", "--predicate", "process == \"launchd\""});
    ASSERT_EQ(log.exitStatus, 0);
    EXPECT_THAT(log.standardOutput, HasSubstr("[gui/" + std::to_string(uid) + "/com.example.config-check [1210]:] exited"));
    EXPECT_THAT(log.standardOutput, Not(HasSubstr("com.apple.backupd-helper [61]")));  // an hour and a half ago
    EXPECT_THAT(log.standardOutput, HasSubstr(root.resolve("/Library/LaunchAgents").string()));
}

// Every process a root's launchd started, found by the root's path in its command line or environment.
std::set<int> processesOf(const fs::path& rootPath)
{
    std::set<int> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos || std::stoi(name) == ::getpid())
            continue;
        const std::string stat = readFile(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z')
            continue;  // gone, or a zombie: nothing is running
        const std::string identity = readFile(entry.path() / "cmdline") + readFile(entry.path() / "environ");
        if (identity.find(rootPath.string()) != std::string::npos)
            found.insert(std::stoi(name));
    }
    return found;
}

TEST(DemoMachineLifetime, leavesNoProcessBehindWhenTheRootGoes)
{
    fs::path path;
    {
        SandboxRoot root{SandboxRoot::Options{.demo = true}};
        path = root.path();
        settledList();
        EXPECT_GE(processesOf(path).size(), 8u);
    }
    EXPECT_FALSE(fs::exists(path));
    std::set<int> left = processesOf(path);
    for (int attempt = 0; attempt < 40 && !left.empty(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        left = processesOf(path);
    }
    EXPECT_TRUE(left.empty()) << left.size() << " processes left";
}

}  // namespace
}  // namespace qw::test
