#include "Quillwick/launchd/JobDiagnostics.h"

#include <gtest/gtest.h>

namespace qw {
namespace {

using Diagnostics::FileFacts;
using ExitStatus = RuntimeState::ExitStatus;
using Severity = Issue::Severity;

const std::string kLabel = "com.example.job";

std::string folderOf(JobDirectory directory) {
    switch (directory) {
    case JobDirectory::userAgents: return "/Users/me/Library/LaunchAgents";
    case JobDirectory::globalAgents: return "/Library/LaunchAgents";
    case JobDirectory::globalDaemons: return "/Library/LaunchDaemons";
    case JobDirectory::systemAgents: return "/System/Library/LaunchAgents";
    case JobDirectory::systemDaemons: return "/System/Library/LaunchDaemons";
    }
    return {};
}

// The file and its program are in place, the program can run, nothing else is missing.
FileFacts soundFacts() {
    FileFacts facts;
    facts.plistExists = facts.plistIsReadable = true;
    facts.executableExists = facts.executableIsExecutable = true;
    return facts;
}

// A job that passes every check: a loaded user agent that runs a program at login and exited cleanly.
struct Fixture {
    PlistDictionary root{{"Label", PlistValue(kLabel)}, {"Program", "/usr/local/bin/tool"}, {"RunAtLoad", true}};
    JobDirectory directory = JobDirectory::userAgents;
    std::optional<LaunchctlListEntry> status = LaunchctlListEntry{kLabel, std::nullopt, ExitStatus::code(0)};
    bool disabled = false;
    bool withDefinition = true;
    std::optional<std::string> loadFailure;
    FileFacts facts = soundFacts();
    std::unordered_set<std::string> duplicates;

    Job job() const {
        if (!withDefinition) return Job{kLabel, std::nullopt, status, disabled, std::nullopt};
        JobDefinition definition(PlistFile(root, PlistFormat::xml),
                                 JobLocation(directory, folderOf(directory) + "/" + kLabel + ".plist"), loadFailure);
        return Job{kLabel, std::move(definition), status, disabled, directory};
    }
    std::vector<Issue> issues() const { return Diagnostics::issues(job(), facts, duplicates); }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (const auto& issue : issues()) out.push_back(issue.title);
        return out;
    }
    const Issue* find(const std::string& title) const {
        found_ = issues();
        for (const auto& issue : found_)
            if (issue.title == title) return &issue;
        return nullptr;
    }
    mutable std::vector<Issue> found_;
};

using Titles = std::vector<std::string>;

TEST(JobDiagnostics, aHealthyJobHasNoIssues) { EXPECT_TRUE(Fixture().issues().empty()); }

TEST(JobDiagnostics, failingJobs) {
    Fixture f;
    f.status->lastExit = ExitStatus::code(1);
    f.root.set("StandardErrorPath", "/tmp/err.log");
    const auto* stopped = f.find("This job stopped with an error");
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->severity, Severity::error);
    EXPECT_EQ(stopped->explanation, "The program reported a general failure.");
    EXPECT_FALSE(stopped->fix);

    f.status->lastExit = ExitStatus::code(3);
    EXPECT_EQ(f.find("This job stopped with an error")->explanation, "The program stopped with code 3.");

    f.root.set("KeepAlive", PlistValue::dictionary({{"SuccessfulExit", false}}));
    EXPECT_EQ(f.titles(), Titles{"This job keeps failing and being restarted"});
    EXPECT_EQ(f.issues()[0].explanation,
              "The program stopped with code 3. Because KeepAlive is set, launchd starts it again each time, and "
              "will throttle it once it has failed often enough. Fix the program or its arguments; raising the "
              "restart rate will not help.");
    // A dictionary without a condition launchd acts on restarts nothing.
    f.root.set("KeepAlive", PlistValue::dictionary({{"Restart", true}}));
    EXPECT_EQ(f.titles(), Titles{"This job stopped with an error"});
    f.root.set("KeepAlive", PlistValue::dictionary({{"SuccessfulExit", false}}));
    // launchd runs a LaunchOnlyOnce job a single time, so nothing restarts it.
    f.root.set("LaunchOnlyOnce", true);
    EXPECT_EQ(f.titles(), Titles{"This job stopped with an error"});

    // Killed by SIGTERM, or never exited: no failure at all.
    f.status->lastExit = ExitStatus::signal(15);
    EXPECT_TRUE(f.issues().empty());
    f.status->lastExit = ExitStatus::neverExited();
    EXPECT_TRUE(f.issues().empty());
}

TEST(JobDiagnostics, aJobKnownOnlyToLaunchdGetsOnlyRuntimeIssues) {
    Fixture f;
    f.withDefinition = false;
    f.facts = FileFacts();
    f.status->lastExit = ExitStatus::code(1);
    EXPECT_EQ(f.titles(), Titles{"This job stopped with an error"});
    f.status->lastExit = ExitStatus::code(0);
    EXPECT_TRUE(f.issues().empty());
}

TEST(JobDiagnostics, disabledJobsOfferEnable) {
    Fixture f;
    f.disabled = true;
    const auto* issue = f.find("This job is disabled");
    ASSERT_TRUE(issue);
    EXPECT_EQ(issue->severity, Severity::note);
    EXPECT_EQ(issue->fix, Fix::enable());
    EXPECT_EQ(issue->id(), "0:This job is disabled");
}

TEST(JobDiagnostics, anUnreadableFileGetsExactlyOneFileIssue) {
    Fixture f;
    f.root = {};
    f.loadFailure = "Could not read com.example.job.plist: bad";
    f.status.reset();
    f.facts.plistIsLooselyPermissioned = true;
    f.duplicates = {kLabel};
    EXPECT_EQ(f.titles(), Titles{"This file is not a valid property list"});
    EXPECT_EQ(f.issues()[0].explanation,
              "launchd cannot read it, so the job does not exist as far as the system is concerned. Could not read "
              "com.example.job.plist: bad");
}

TEST(JobDiagnostics, anEmptyFileDeclaresNoJob) {
    Fixture f;
    f.root = {};
    f.status.reset();
    EXPECT_EQ(f.titles(), Titles{"This file declares no job"});
    EXPECT_EQ(f.issues()[0].severity, Severity::warning);

    // Not on disk yet: nothing to say about an empty file, but the job is still not loaded.
    f.facts.plistExists = false;
    EXPECT_EQ(f.titles(), Titles{"This job is not loaded"});
}

TEST(JobDiagnostics, permissionsAndOwnershipOfferRepair) {
    Fixture f;
    f.facts.plistIsLooselyPermissioned = true;
    const auto* loose = f.find("Anyone can edit this job's file");
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->severity, Severity::error);
    EXPECT_EQ(loose->fix, Fix::repairPermissions());

    Fixture g;
    g.facts.plistIsWronglyOwned = true;
    const auto* owner = g.find("This job's file is not owned by root");
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->fix, Fix::repairPermissions());
}

TEST(JobDiagnostics, labelMismatchOffersTheFileName) {
    Fixture f;
    f.root.set("Label", "com.example.other");
    const Issue* issue = f.find("The label does not match the filename");
    ASSERT_TRUE(issue);
    EXPECT_EQ(issue->severity, Severity::warning);
    EXPECT_EQ(issue->explanation,
              "The job is called “com.example.other” but its file is named “com.example.job.plist”. launchd uses "
              "the label, so the job works — but every command and every other tool goes looking for it under the "
              "name the file suggests, and does not find it.");
    EXPECT_EQ(issue->fix, Fix::setLabelToFilename("com.example.job"));

    // A label that ends in ".plist" is named as the fault, not set against a name that reads the same.
    const std::pair<std::string, std::string> endsInPlist[] = {
        {"com.example.job.plist",
         "The job is called “com.example.job.plist”, but a label should not end in “.plist”: the name its file "
         "suggests is “com.example.job”. launchd uses the label, so the job works — but every command and every "
         "other tool goes looking for it under the name the file suggests, and does not find it."},
        {"other.plist",
         "The job is called “other.plist”, but a label should not end in “.plist”: the name its file suggests is "
         "“com.example.job”. launchd uses the label, so the job works — but every command and every other tool goes "
         "looking for it under the name the file suggests, and does not find it."},
    };
    for (const auto& [label, explanation] : endsInPlist) {
        f.root.set("Label", label);
        issue = f.find("The label does not match the filename");
        ASSERT_TRUE(issue);
        EXPECT_EQ(issue->explanation, explanation);
        EXPECT_EQ(issue->fix, Fix::setLabelToFilename("com.example.job"));
    }
}

TEST(JobDiagnostics, duplicateLabels) {
    Fixture f;
    f.duplicates = {"com.example.unrelated"};
    EXPECT_TRUE(f.issues().empty());
    f.duplicates.insert(kLabel);
    EXPECT_EQ(f.titles(), Titles{"Another job has the same label"});
}

TEST(JobDiagnostics, notLoadedOffersLoadOnlyWhereLaunchdWouldLoadIt) {
    Fixture f;
    f.status.reset();
    const auto* issue = f.find("This job is not loaded");
    ASSERT_TRUE(issue);
    EXPECT_EQ(issue->fix, Fix::load());

    // launchd refuses a file anyone else may write: its repair is offered, not a load that cannot work.
    for (bool FileFacts::*fact : {&FileFacts::plistIsLooselyPermissioned, &FileFacts::plistIsWronglyOwned}) {
        Fixture unsafe;
        unsafe.status.reset();
        unsafe.directory = JobDirectory::globalDaemons;
        unsafe.facts.*fact = true;
        std::vector<Fix> offered;
        for (const auto& found : unsafe.issues())
            if (found.fix) offered.push_back(*found.fix);
        EXPECT_EQ(offered, std::vector<Fix>{Fix::repairPermissions()});
        EXPECT_TRUE(unsafe.find("This job is not loaded"));
    }

    // System jobs get no file issues at all, but still definition and key issues.
    f.directory = JobDirectory::systemAgents;
    f.facts.plistIsLooselyPermissioned = true;
    f.facts.plistIsWronglyOwned = true;
    f.root.set("Keepalive", true);
    EXPECT_EQ(f.titles(), Titles{"“Keepalive” looks like a typo"});
}

TEST(JobDiagnostics, missingLabelIsJudgedFromTheFileItself) {
    const std::pair<const char*, std::optional<PlistValue>> cases[] = {
        {"no Label", std::nullopt},
        {"Label not text", PlistValue(5)},
        {"empty Label", PlistValue("")},
    };
    for (const auto& [name, label] : cases) {
        SCOPED_TRACE(name);
        Fixture f;
        f.root.erase("Label");
        if (label) f.root.set("Label", *label);
        const auto* issue = f.find("This job has no Label");
        ASSERT_TRUE(issue);
        EXPECT_EQ(issue->severity, Severity::error);
        EXPECT_EQ(issue->explanation, "Every launchd job needs a Label, and it should match the filename.");
        EXPECT_FALSE(issue->fix);
    }
    EXPECT_FALSE(Fixture().find("This job has no Label"));
}

TEST(JobDiagnostics, theProgramChecks) {
    Fixture none;
    none.root.erase("Program");
    EXPECT_EQ(none.titles(), Titles{"This job has nothing to run"});

    Fixture missing;
    missing.facts.executableExists = false;
    missing.facts.executableIsExecutable = false;
    EXPECT_EQ(missing.titles(), Titles{"The program does not exist"});
    EXPECT_TRUE(missing.issues()[0].explanation.starts_with("There is nothing at /usr/local/bin/tool. "));

    Fixture notExecutable;
    notExecutable.facts.executableIsExecutable = false;
    EXPECT_EQ(notExecutable.titles(), Titles{"The program cannot be run"});
    EXPECT_TRUE(notExecutable.issues()[0].explanation.starts_with("/usr/local/bin/tool exists but is not executable."));

    // The facts call a relative program present and executable; only the relative-path warning remains.
    Fixture relative;
    relative.root.set("Program", "backup.sh");
    EXPECT_EQ(relative.titles(), Titles{"The program is a relative path"});
    EXPECT_EQ(relative.issues()[0].severity, Severity::warning);
    EXPECT_NE(relative.issues()[0].explanation.find("so “backup.sh” will only be found"), std::string::npos);
}

TEST(JobDiagnostics, aBareFirstArgumentIsJudgedByWhatThePathSearchFound) {
    const auto arguments = [](std::string first) { return PlistValue::array({first, "/Library/Scripts/x.sh"}); };
    struct Case {
        const char* name;
        std::string first;
        std::optional<std::string> path;  // the job's own PATH
        std::optional<std::string> found;
        bool executable;
        Titles titles;
        std::string explanation;  // of the first issue
    };
    const Case cases[] = {
        {"found and runnable", "sh", std::nullopt, "/root/usr/bin/sh", true, {}, ""},
        {"found but not runnable", "plain", std::nullopt, "/root/sbin/plain", false, {"The program cannot be run"},
         "/root/sbin/plain exists but is not executable. If it is a script, give it the execute bit with chmod +x — "
         "and a shebang line, because launchd will not run it through a shell."},
        {"not on launchd's own PATH", "tool", std::nullopt, std::nullopt, true, {"The program is a relative path"},
         "launchd looks for “tool” in /usr/bin, /bin, /usr/sbin and /sbin, the PATH it gives every job (not your "
         "shell's), and it is in none of them. Use the full path."},
        {"not on the job's PATH", "tool", "/opt/tools:/usr/bin", std::nullopt, true, {"The program is a relative path"},
         "launchd looks for “tool” in /opt/tools and /usr/bin, the job's own PATH, and it is in none of them. Use the "
         "full path."},
        {"a PATH of no folder", "tool", ":", std::nullopt, true, {"The program is a relative path"},
         "launchd looks for “tool” in the job's own PATH, which names no folder. Use the full path."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.root.erase("Program");
        f.root.set("ProgramArguments", arguments(c.first));
        if (c.path) f.root.set("EnvironmentVariables", PlistValue::dictionary({{"PATH", *c.path}}));
        f.facts.executableOnPath = c.found;
        f.facts.executableIsExecutable = c.executable;
        EXPECT_EQ(f.titles(), c.titles);
        if (!c.titles.empty()) {
            EXPECT_EQ(f.issues()[0].explanation, c.explanation);
        }
    }
}

TEST(JobDiagnostics, nothingWillStartIt) {
    Fixture f;
    f.root.erase("RunAtLoad");
    EXPECT_EQ(f.titles(), Titles{"Nothing will ever start this job"});
    f.root.set("MachServices", PlistValue::dictionary({{"com.example.svc", true}}));
    EXPECT_TRUE(f.issues().empty());

    Fixture old;  // OnDemand false: the old way of writing KeepAlive true
    old.root.erase("RunAtLoad");
    old.root.set("OnDemand", false);
    EXPECT_EQ(old.titles(), Titles{"“OnDemand” is deprecated"});
}

TEST(JobDiagnostics, startIntervalUnderKeepAlive) {
    Fixture f;
    f.root.set("StartInterval", 300);
    EXPECT_TRUE(f.issues().empty());
    f.root.set("KeepAlive", true);
    EXPECT_EQ(f.titles(), Titles{"StartInterval will not do anything here"});
    f.root.set("RunAtLoad", 0);
    EXPECT_TRUE(f.issues().empty());
    f.root.set("RunAtLoad", 1);
    f.root.set("KeepAlive", PlistValue::dictionary({{"Crashed", true}}));
    EXPECT_TRUE(f.issues().empty());
}

TEST(JobDiagnostics, pathIssues) {
    Fixture f;
    f.root.set("StandardOutPath", "/nowhere/a/out.log");
    f.facts.missingLogDirectories = {"/nowhere/a", "/nowhere/b"};
    f.facts.missingWatchPaths = {"/w"};
    const auto issues = f.issues();
    ASSERT_EQ(issues.size(), 3u);
    EXPECT_EQ(issues[0].title, "The log folder does not exist");
    EXPECT_EQ(issues[0].explanation,
              "The job writes its output into /nowhere/a, which is not there. launchd creates the log file but not "
              "the folder around it, so the program starts with no output and no explanation.");
    EXPECT_EQ(issues[0].fix, Fix::createDirectory("/nowhere/a"));
    EXPECT_EQ(issues[1].fix, Fix::createDirectory("/nowhere/b"));
    EXPECT_EQ(issues[2].title, "A watched path does not exist");
    EXPECT_EQ(issues[2].explanation,
              "WatchPaths includes /w, which is not there. launchd watches paths that exist when the job is loaded; "
              "one that appears later does not start being watched on its own.");
    EXPECT_EQ(issues[2].id(), "1:A watched path does not exist");
}

TEST(JobDiagnostics, aFailedJobWithoutLogs) {
    Fixture f;
    f.status->lastExit = ExitStatus::signal(11);
    EXPECT_EQ(f.titles(), (Titles{"This job stopped with an error", "This job keeps no log"}));
    f.root.set("StandardOutPath", "/dev/null");
    EXPECT_EQ(f.titles(), (Titles{"This job stopped with an error", "This job keeps no log"}));
    f.root.set("StandardErrorPath", "/tmp/err.log");
    EXPECT_EQ(f.titles(), Titles{"This job stopped with an error"});
}

TEST(JobDiagnostics, numbersLaunchdIgnoresAreFound) {
    Fixture f;
    for (const auto& interval : {PlistValue(0), PlistValue(-5)}) {
        f.root.set("StartInterval", interval);
        ASSERT_EQ(f.titles(), Titles{"“StartInterval” is out of range"});
        EXPECT_EQ(f.issues()[0].severity, Severity::warning);
        EXPECT_EQ(f.issues()[0].explanation,
                  "launchd takes StartInterval only when it is 1 or more, and ignores this value with no more than a "
                  "line in its own log, so the setting is quietly doing nothing.");
    }
    f.root.set("StartInterval", 1);
    f.root.set("Nice", 21);
    EXPECT_EQ(f.titles(), Titles{"“Nice” is out of range"});
    f.root.set("Nice", -20);
    f.root.set("ExitTimeOut", 0);
    EXPECT_TRUE(f.issues().empty());
}

TEST(JobDiagnostics, keyIssues) {
    Fixture f;
    f.root.set("OnDemand", false);
    f.root.set("Keepalive", true);
    f.root.set("SomethingUnknown", 1);
    f.root.set("Version", 2);  // private: nothing
    const auto issues = f.issues();
    ASSERT_EQ(issues.size(), 2u);
    EXPECT_EQ(issues[0].title, "“Keepalive” looks like a typo");
    EXPECT_EQ(issues[0].severity, Severity::warning);
    EXPECT_EQ(issues[0].explanation,
              "launchd ignores keys it does not recognise, without saying so, so this setting is quietly doing "
              "nothing. The spelling launchd knows is “KeepAlive”.");
    EXPECT_EQ(issues[1].title, "“OnDemand” is deprecated");
    EXPECT_EQ(issues[1].severity, Severity::note);
    EXPECT_EQ(issues[1].explanation,
              "Replaced by KeepAlive, whose sense is the opposite. Setting OnDemand false is the old way of writing "
              "KeepAlive true.");

    Fixture agent;
    agent.root.set("UserName", "nobody");
    EXPECT_EQ(agent.titles(), Titles{"“UserName” has no effect on an agent"});
    Fixture daemon;
    daemon.directory = JobDirectory::globalDaemons;
    daemon.root.set("UserName", "nobody");
    EXPECT_TRUE(daemon.issues().empty());
}

TEST(JobDiagnostics, theFullListIsOrderedBySeverityThenByFinding) {
    Fixture f;
    f.status->lastExit = ExitStatus::code(78, "EX_CONFIG");
    f.disabled = true;
    f.root.set("Label", "com.example.other");
    f.root.set("UserName", "nobody");
    f.root.set("Keepalive", true);
    f.root.set("OnDemand", true);
    f.root.set("Program", "tool");
    f.root.erase("RunAtLoad");
    f.facts.plistIsLooselyPermissioned = true;
    f.facts.plistIsWronglyOwned = true;
    f.facts.missingWatchPaths = {"/w"};
    f.duplicates = {kLabel};
    EXPECT_EQ(f.titles(), (Titles{
                              "This job stopped with an error",
                              "Anyone can edit this job's file",
                              "This job's file is not owned by root",
                              "The label does not match the filename",
                              "Another job has the same label",
                              "The program is a relative path",
                              "Nothing will ever start this job",
                              "A watched path does not exist",
                              "“Keepalive” looks like a typo",
                              "“UserName” has no effect on an agent",
                              "This job is disabled",
                              "This job keeps no log",
                              "“OnDemand” is deprecated",
                          }));
}

}  // namespace
}  // namespace qw
