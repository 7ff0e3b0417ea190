#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "Quillwick/launchd/JobDefinition.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

JobDefinition definitionWith(PlistDictionary root, std::optional<JobLocation> location = std::nullopt) {
    return JobDefinition(PlistFile(std::move(root), PlistFormat::xml), std::move(location));
}

JobLocation locationIn(JobDirectory directory, const std::string& file = "com.example.job.plist") {
    return JobLocation(directory, std::filesystem::path("/jobs") / file);
}

TEST(JobDefinitionTest, labelFallsBackToTheFileName) {
    EXPECT_EQ(definitionWith({{"Label", "a.b"}}).label(), "a.b");
    EXPECT_EQ(definitionWith({{"Label", 5}}, locationIn(JobDirectory::userAgents, "com.x.y.plist")).label(), "com.x.y");
    EXPECT_EQ(definitionWith({{"Label", ""}}, locationIn(JobDirectory::userAgents)).label(), "");
    EXPECT_EQ(definitionWith({}).label(), "");

    JobDefinition created("com.example.new", std::nullopt);
    EXPECT_EQ(created.file.root, (PlistDictionary{{"Label", "com.example.new"}}));
    EXPECT_EQ(created.file.format, PlistFormat::xml);
    created.setLabel("");
    EXPECT_EQ(created["Label"], PlistValue(""));
}

TEST(JobDefinitionTest, programAndCommandComeFromWhicheverKeysHoldStrings) {
    auto mixed = definitionWith({{"ProgramArguments", PlistValue::array({"a", 5, "b"})}});
    EXPECT_EQ(mixed.programArguments(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(mixed.command(), "a b");
    EXPECT_EQ(mixed.executablePath(), "a");

    auto both = definitionWith({{"Program", "/x"}, {"ProgramArguments", PlistValue::array({"/y", "-v"})}});
    EXPECT_EQ(both.executablePath(), "/x");
    EXPECT_EQ(both.command(), "/y -v");

    auto programOnly = definitionWith({{"Program", "/bin/true"}, {"ProgramArguments", "/bin/false"}});
    EXPECT_TRUE(programOnly.programArguments().empty());  // a lone string is not an argument list
    EXPECT_EQ(programOnly.command(), "/bin/true");

    auto wrongTypes = definitionWith({{"Program", 3}, {"ProgramArguments", PlistValue::array({1, 2})}});
    EXPECT_FALSE(wrongTypes.executablePath());
    EXPECT_EQ(wrongTypes.command(), "");
}

TEST(JobDefinitionTest, logPathsSkipDevicesAndRepeats) {
    struct Case {
        PlistDictionary root;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {{{"StandardOutPath", "/tmp/o"}, {"StandardErrorPath", "/tmp/e"}}, {"/tmp/o", "/tmp/e"}},
        {{{"StandardOutPath", "/tmp/same"}, {"StandardErrorPath", "/tmp/same"}}, {"/tmp/same"}},
        {{{"StandardOutPath", "/dev/null"}, {"StandardErrorPath", "/dev/null"}}, {}},
        {{{"StandardOutPath", "/dev/console"}, {"StandardErrorPath", "/tmp/e"}}, {"/tmp/e"}},
        {{{"StandardOutPath", 1}, {"StandardErrorPath", "/tmp/e"}}, {"/tmp/e"}},
        {{}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(definitionWith(c.root).logPaths(), c.paths);
}

TEST(JobDefinitionTest, settersFollowEachKeysWriteRule) {
    JobDefinition job("j", std::nullopt);

    job.setRunAtLoad(false);
    job.setStartOnMount(false);
    EXPECT_FALSE(job.find("RunAtLoad"));
    EXPECT_FALSE(job.find("StartOnMount"));
    job.setRunAtLoad(true);
    EXPECT_EQ(job["RunAtLoad"], PlistValue(true));
    job.setRunAtLoad(false);
    EXPECT_EQ(job["RunAtLoad"], PlistValue(false));

    job.setDisabled(false);
    EXPECT_EQ(job["Disabled"], PlistValue(false));

    job.setProgram("");
    EXPECT_EQ(job["Program"], PlistValue(""));
    job.setProgram(std::nullopt);
    EXPECT_FALSE(job.find("Program"));

    job.setProgramArguments({"/bin/echo", "hi"});
    EXPECT_EQ(job["ProgramArguments"], PlistValue::array({"/bin/echo", "hi"}));
    job.setProgramArguments({});
    EXPECT_FALSE(job.find("ProgramArguments"));

    job.setEnvironmentVariables({{"A", "1"}});
    EXPECT_EQ(job.environmentVariables(), (std::map<std::string, std::string>{{"A", "1"}}));
    job.setEnvironmentVariables({});
    EXPECT_FALSE(job.find("EnvironmentVariables"));

    job.setStartInterval(60);
    EXPECT_EQ(job["StartInterval"], PlistValue(60));
    job.setStartInterval(std::nullopt);
    EXPECT_FALSE(job.find("StartInterval"));

    job.setKeepAlive(KeepAlive::always());
    EXPECT_EQ(job["KeepAlive"], PlistValue(true));
    job.setKeepAlive(KeepAlive::never());
    EXPECT_FALSE(job.find("KeepAlive"));

    job.set("Custom", PlistValue(1));
    EXPECT_EQ(job["Custom"], PlistValue(1));
    job.set("Custom", std::nullopt);
    EXPECT_FALSE(job["Custom"]);
}

TEST(JobDefinitionTest, environmentKeepsOnlyTextValues) {
    auto job = definitionWith(
        {{"EnvironmentVariables", PlistValue::dictionary({{"PATH", "/usr/bin"}, {"N", 3}, {"EMPTY", ""}})}});
    EXPECT_EQ(job.environmentVariables(), (std::map<std::string, std::string>{{"PATH", "/usr/bin"}, {"EMPTY", ""}}));
    EXPECT_TRUE(definitionWith({{"EnvironmentVariables", PlistValue::array({"A=1"})}}).environmentVariables().empty());
}

TEST(JobDefinitionTest, calendarEntriesReadFromOneDictionaryOrAnArray) {
    auto job = definitionWith({{"StartCalendarInterval",
                                PlistValue::array({PlistValue::dictionary({{"Hour", 9}}), "noon",
                                                   PlistValue::dictionary({{"Minute", 30}})})}});
    auto entries = job.startCalendarInterval();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].hour, 9);
    EXPECT_EQ(entries[1].minute, 30);

    job.setStartCalendarInterval({entries[0]});
    EXPECT_EQ(job["StartCalendarInterval"], PlistValue::dictionary({{"Hour", 9}}));
    EXPECT_EQ(job.startCalendarInterval().size(), 1u);

    job.setStartCalendarInterval(entries);
    EXPECT_EQ(job["StartCalendarInterval"],
              PlistValue::array({PlistValue::dictionary({{"Hour", 9}}), PlistValue::dictionary({{"Minute", 30}})}));

    job.setStartCalendarInterval({});
    EXPECT_FALSE(job.find("StartCalendarInterval"));
    EXPECT_TRUE(definitionWith({{"StartCalendarInterval", 5}}).startCalendarInterval().empty());
}

TEST(JobDefinitionTest, startTriggersAndKindsOfSchedule) {
    struct Case {
        const char* name;
        PlistDictionary root;
        bool trigger, scheduled, watching, onDemand;
    };
    const Case cases[] = {
        {"nothing", {{"Label", "x"}}, false, false, false, false},
        {"run at load false", {{"RunAtLoad", false}}, false, false, false, false},
        {"run at load", {{"RunAtLoad", 1}}, true, false, false, false},
        {"interval zero", {{"StartInterval", 0}}, true, true, false, false},
        {"interval real", {{"StartInterval", 30.5}}, true, true, false, false},
        {"interval not a number", {{"StartInterval", std::nan("")}}, false, false, false, false},
        {"interval out of range", {{"StartInterval", 1e300}}, false, false, false, false},
        {"interval text", {{"StartInterval", "60"}}, false, false, false, false},
        {"calendar", {{"StartCalendarInterval", PlistDictionary{}}}, true, true, false, false},
        {"watch", {{"WatchPaths", PlistValue::array({"/a"})}}, true, false, true, false},
        {"empty watch", {{"WatchPaths", PlistValue::array({})}}, false, false, false, false},
        {"queue", {{"QueueDirectories", PlistValue::array({"/q"})}}, true, false, true, false},
        {"mount", {{"StartOnMount", true}}, true, false, false, false},
        {"keep alive", {{"KeepAlive", true}}, true, false, false, false},
        {"keep alive false", {{"KeepAlive", false}}, false, false, false, false},
        {"mach services", {{"MachServices", "anything"}}, true, false, false, true},
        {"sockets", {{"Sockets", PlistDictionary{}}}, true, false, false, true},
        {"launch events", {{"LaunchEvents", false}}, true, false, false, true},
    };
    for (const Case& c : cases) {
        auto job = definitionWith(c.root);
        EXPECT_EQ(job.hasStartTrigger(), c.trigger) << c.name;
        EXPECT_EQ(job.isScheduled(), c.scheduled) << c.name;
        EXPECT_EQ(job.isWatching(), c.watching) << c.name;
        EXPECT_EQ(job.hasOnDemandTriggers(), c.onDemand) << c.name;
    }
}

TEST(JobDefinitionTest, scheduleSummaryNamesEveryStartCondition) {
    struct Case {
        PlistDictionary root;
        JobDirectory directory;
        std::string sentence;
    };
    const Case cases[] = {
        {{{"RunAtLoad", true}, {"StartInterval", 300}, {"KeepAlive", true}}, JobDirectory::userAgents,
         "Runs at login and every 5 minutes, and is restarted whenever it stops."},
        {{{"RunAtLoad", true}}, JobDirectory::globalDaemons, "Runs at startup."},
        {{{"RunAtLoad", true}}, JobDirectory::systemDaemons, "Runs at startup."},
        {{{"RunAtLoad", true}}, JobDirectory::globalAgents, "Runs at login."},
        {{}, JobDirectory::userAgents, "Never — this job has nothing that would start it."},
        {{{"KeepAlive", true}}, JobDirectory::userAgents,
         "Runs as soon as it is loaded, and is restarted whenever it stops."},
        {{{"KeepAlive", PlistValue::dictionary({{"SuccessfulExit", false}})}}, JobDirectory::globalDaemons,
         "Runs as soon as it is loaded, and is restarted when it fails."},
        {{{"StartInterval", 0}}, JobDirectory::userAgents, "Runs every 0 seconds."},
        {{{"StartCalendarInterval", PlistValue::array({PlistValue::dictionary({{"Hour", 9}, {"Minute", 0}}),
                                                       PlistValue::dictionary({{"Minute", 0}})})}},
         JobDirectory::userAgents, "Runs at 09:00 and on the hour."},
        {{{"WatchPaths", PlistValue::array({"/a", "/b", "/c"})}, {"QueueDirectories", PlistValue::array({"/q"})},
          {"StartOnMount", true}},
         JobDirectory::userAgents, "Runs when /a (and 2 more) changes, while /q is not empty and whenever a disk is mounted."},
        {{{"Sockets", PlistDictionary{}}, {"LaunchEvents", PlistDictionary{}}, {"MachServices", PlistDictionary{}}},
         JobDirectory::userAgents, "Runs on demand, when something connects to it and in response to system events."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(definitionWith(c.root, locationIn(c.directory)).scheduleSummary(), c.sentence);
    }
    EXPECT_EQ(definitionWith({{"RunAtLoad", true}}).scheduleSummary(), "Runs at login.");
}

TEST(JobDefinitionTest, onDemandFalseIsTheOldWayOfKeepAliveTrue) {
    struct Case {
        const char* name;
        PlistDictionary root;
        bool trigger;
        std::string sentence;
    };
    const Case cases[] = {
        {"alone", {{"OnDemand", false}}, true, "Runs as soon as it is loaded, and is restarted whenever it stops."},
        {"as an integer", {{"OnDemand", 0}}, true, "Runs as soon as it is loaded, and is restarted whenever it stops."},
        {"with RunAtLoad", {{"OnDemand", false}, {"RunAtLoad", true}}, true,
         "Runs at login, and is restarted whenever it stops."},
        {"true starts nothing", {{"OnDemand", true}}, false, "Never — this job has nothing that would start it."},
        {"not a Boolean", {{"OnDemand", "NO"}}, false, "Never — this job has nothing that would start it."},
        {"KeepAlive has the last word", {{"OnDemand", false}, {"KeepAlive", PlistValue::dictionary({{"Crashed", true}})}},
         true, "Runs as soon as it is loaded, and is restarted when it crashes."},
        // launchd runs a LaunchOnlyOnce job once, however it is kept alive.
        {"launched only once", {{"OnDemand", false}, {"LaunchOnlyOnce", true}}, true,
         "Runs as soon as it is loaded, only once until the Mac restarts."},
        {"once, at login", {{"KeepAlive", true}, {"RunAtLoad", true}, {"LaunchOnlyOnce", true}}, true,
         "Runs at login, only once until the Mac restarts."},
        // A path or job condition is when it runs, not a restart after a start at load.
        {"while a path exists",
         {{"KeepAlive", PlistValue::dictionary({{"PathState", PlistValue::dictionary({{"/tmp/go", true}})}})}}, true,
         "Runs while /tmp/go exists."},
        {"while another job is not loaded, or the network is up",
         {{"KeepAlive", PlistValue::dictionary({{"OtherJobEnabled", PlistValue::dictionary({{"com.example.a", false}})},
                                                {"NetworkState", true}})}},
         true, "Runs while com.example.a is not loaded or while the network is up."},
        {"a successful exit still starts it at load",
         {{"KeepAlive", PlistValue::dictionary({{"SuccessfulExit", true},
                                                {"PathState", PlistValue::dictionary({{"/tmp/go", false}})}})}},
         true,
         "Runs as soon as it is loaded, and is restarted when it finishes successfully and kept running while /tmp/go "
         "does not exist."},
        {"a dictionary with no condition starts nothing", {{"KeepAlive", PlistValue::dictionary({{"Restart", true}})}},
         false, "Never — this job has nothing that would start it."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = definitionWith(c.root);
        EXPECT_EQ(job.hasStartTrigger(), c.trigger);
        EXPECT_EQ(job.scheduleSummary(), c.sentence);
    }
}

TEST(JobDefinitionTest, durationJoinAndListTexts) {
    const std::pair<std::int64_t, const char*> durations[] = {
        {-5, "-5 seconds"}, {0, "0 seconds"},     {1, "second"},       {59, "59 seconds"},   {60, "minute"},
        {90, "90 seconds"}, {300, "5 minutes"},   {3599, "3599 seconds"}, {3600, "hour"},  {3660, "61 minutes"},
        {5400, "90 minutes"}, {7200, "2 hours"},  {86399, "1439 minutes"}, {86400, "day"}, {90000, "25 hours"},
        {172800, "2 days"}, {86401, "24 hours"},
    };
    for (const auto& [seconds, text] : durations) EXPECT_EQ(JobDefinition::durationText(seconds), text) << seconds;

    EXPECT_EQ(JobDefinition::englishJoin({}), "");
    EXPECT_EQ(JobDefinition::englishJoin({"A"}), "A");
    EXPECT_EQ(JobDefinition::englishJoin({"A", "B"}), "A and B");
    EXPECT_EQ(JobDefinition::englishJoin({"A", "B", "C"}), "A, B and C");
    EXPECT_EQ(JobDefinition::englishJoin({"A", "B", "C", "D"}), "A, B, C and D");

    EXPECT_EQ(JobDefinition::listText({}, "path"), "a path");
    EXPECT_EQ(JobDefinition::listText({"/a"}, "path"), "/a");
    EXPECT_EQ(JobDefinition::listText({"/a", "/b"}, "directory"), "/a (and 1 more)");
}

TEST(JobDefinitionTest, keysOrderedByCatalogueThenUnknownByCharacterCode) {
    auto job = definitionWith({{"zeta", 1}, {"KeepAlive", true}, {"Zeta", 2}, {"Label", "x"}, {"ProgramArguments",
                                                                                              PlistValue::array({"/a"})}});
    EXPECT_EQ(job.orderedKeys(), (std::vector<std::string>{"Label", "ProgramArguments", "KeepAlive", "Zeta", "zeta"}));
    EXPECT_EQ(job.unknownKeys(), (std::vector<std::string>{"Zeta", "zeta"}));
}

TEST(JobDefinitionTest, domainAndTargetFollowTheFolder) {
    auto agent = definitionWith({{"Label", "com.example.a"}});
    EXPECT_FALSE(agent.isDaemon());
    EXPECT_EQ(agent.domain(), LaunchdDomain::gui(currentUserID()));
    EXPECT_EQ(agent.serviceTarget(), (ServiceTarget{LaunchdDomain::gui(currentUserID()), "com.example.a"}));

    auto daemon = definitionWith({{"Label", "com.example.d"}}, locationIn(JobDirectory::globalDaemons));
    EXPECT_TRUE(daemon.isDaemon());
    EXPECT_EQ(daemon.serviceTarget().description(), "system/com.example.d");
    EXPECT_FALSE(definitionWith({}, locationIn(JobDirectory::systemAgents)).isDaemon());
}

TEST(JobDefinitionTest, equalityCoversFileLocationAndFailure) {
    const auto base = definitionWith({{"Label", "x"}}, locationIn(JobDirectory::userAgents));
    auto other = base;
    EXPECT_EQ(base, other);
    EXPECT_EQ(base.hash(), other.hash());

    other.location = locationIn(JobDirectory::globalAgents);
    EXPECT_NE(base, other);
    other = base;
    other.location.reset();
    EXPECT_NE(base, other);
    other = base;
    other.loadFailure = "broken";
    EXPECT_NE(base, other);
    other = base;
    other.file.format = PlistFormat::binary;
    EXPECT_NE(base, other);
    other = base;
    other.setDisabled(true);
    EXPECT_NE(base, other);
}

class JobDefinitionFileTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& name, const std::string& bytes) {
        auto path = folder.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    test::TemporaryFolder folder;
};

TEST_F(JobDefinitionFileTest, unknownKeysSurviveEditingAndSaving) {
    JobDefinition original(PlistFile({{"Label", "com.example.keep"},
                                      {"XMyOwnKey", PlistValue::dictionary({{"nested", PlistValue::array({1, 2.5})}})},
                                      {"RunAtLoad", true}},
                                     PlistFormat::binary));
    const auto path = folder.path() / "com.example.keep.plist";
    original.file.write(path);

    const JobLocation location(JobDirectory::userAgents, path);
    auto loaded = JobDefinition::fromLocation(location);
    EXPECT_EQ(loaded.location, location);
    EXPECT_FALSE(loaded.loadFailure);
    EXPECT_EQ(loaded.file.format, PlistFormat::binary);

    loaded.setRunAtLoad(false);
    loaded.setStartInterval(600);
    loaded.file.write(path);

    auto reloaded = JobDefinition::fromLocation(location);
    EXPECT_EQ(reloaded["XMyOwnKey"], original["XMyOwnKey"]);
    EXPECT_EQ(reloaded.unknownKeys(), (std::vector<std::string>{"XMyOwnKey"}));
    EXPECT_EQ(reloaded.orderedKeys().back(), "XMyOwnKey");
    EXPECT_EQ(reloaded.startInterval(), 600);
    EXPECT_FALSE(reloaded.runAtLoad());
    EXPECT_EQ(reloaded, loaded);
}

TEST_F(JobDefinitionFileTest, unreadableFilesThrowTheReadError) {
    using Kind = PlistFile::ReadError::Kind;
    const std::pair<std::optional<std::string>, Kind> cases[] = {
        {std::nullopt, Kind::unreadable},
        {"this is not a property list <", Kind::unreadable},
        {R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><string>a</string></array></plist>)",
         Kind::notADictionary},
    };
    int n = 0;
    for (const auto& [bytes, kind] : cases) {
        const std::string name = "job" + std::to_string(n++) + ".plist";
        const auto path = bytes ? write(name, *bytes) : folder.path() / name;
        try {
            JobDefinition::fromLocation(JobLocation(JobDirectory::userAgents, path));
            ADD_FAILURE() << name << " was read";
        } catch (const PlistFile::ReadError& error) {
            EXPECT_EQ(error.kind(), kind) << name;
            EXPECT_EQ(error.path(), path);
        }
    }
}

}  // namespace
}  // namespace qw
