#include "Quillwick/store/JobFilter.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace qw {
namespace {

using Kind = JobFilter::Kind;

LaunchctlListEntry entry(std::string label, std::optional<std::int32_t> pid, std::string_view status) {
    return {std::move(label), pid, RuntimeState::ExitStatus::fromListStatus(status)};
}

Job fileJob(std::string label, JobDirectory folder, PlistDictionary root = {}) {
    JobDefinition definition(PlistFile(std::move(root), PlistFormat::xml), JobLocation::forLabel(folder, label));
    return Job{std::move(label), std::move(definition), std::nullopt, false, folder};
}

std::vector<std::string> matching(const Job& job) {
    std::vector<std::string> ids;
    for (Kind kind : {Kind::installed, Kind::all, Kind::running, Kind::failed, Kind::disabled, Kind::notLoaded,
                      Kind::problems, Kind::scheduled, Kind::watching, Kind::onDemand, Kind::cron, Kind::runtimeOnly})
        if (JobFilter(kind).matches(job)) ids.push_back(JobFilter(kind).id());
    for (const JobFilter& location : JobFilter::locations())
        if (location.kind() == Kind::directory && location.matches(job)) ids.push_back(location.id());
    return ids;
}

TEST(JobFilter, healthAndStatusFiltersAgree) {
    struct Case {
        const char* name;
        std::optional<LaunchctlListEntry> status;
        bool disabled;
        Job::Health health;
        std::vector<std::string> filters;
    };
    const std::vector<Case> cases = {
        {"disabled with a process", entry("x", 42, "-"), true, Job::Health::disabled,
         {"installed", "all", "running", "disabled", "directory.userAgents"}},
        {"loaded, never exited", entry("x", std::nullopt, "-"), false, Job::Health::loadedIdle,
         {"installed", "all", "directory.userAgents"}},
        {"exit 0", entry("x", std::nullopt, "0"), false, Job::Health::loadedIdle,
         {"installed", "all", "directory.userAgents"}},
        {"SIGTERM", entry("x", std::nullopt, "-15"), false, Job::Health::loadedIdle,
         {"installed", "all", "directory.userAgents"}},
        {"exit 1", entry("x", std::nullopt, "1"), false, Job::Health::failed,
         {"installed", "all", "failed", "directory.userAgents"}},
        {"SIGSEGV", entry("x", std::nullopt, "-11"), false, Job::Health::failed,
         {"installed", "all", "failed", "directory.userAgents"}},
        {"failed but disabled", entry("x", std::nullopt, "1"), true, Job::Health::disabled,
         {"installed", "all", "disabled", "directory.userAgents"}},
        {"unlisted but disabled", std::nullopt, true, Job::Health::disabled,
         {"installed", "all", "disabled", "notLoaded", "directory.userAgents"}},
    };
    for (const Case& c : cases) {
        Job job = fileJob("org.example.x", JobDirectory::userAgents);
        job.status = c.status;
        job.isDisabled = c.disabled;
        EXPECT_EQ(job.health(), c.health) << c.name;
        EXPECT_EQ(matching(job), c.filters) << c.name;
    }
}

TEST(JobFilter, labelsFoldersAndRuntimeJobsPlaceAJob) {
    EXPECT_EQ(matching(fileJob("com.apple.something", JobDirectory::userAgents)),
              (std::vector<std::string>{"all", "notLoaded", "directory.userAgents"}));
    EXPECT_EQ(matching(fileJob("org.example.com.apple.agent", JobDirectory::globalAgents)),
              (std::vector<std::string>{"all", "notLoaded", "directory.globalAgents"}));
    EXPECT_EQ(matching(fileJob("org.example.daemon", JobDirectory::systemDaemons)),
              (std::vector<std::string>{"all", "notLoaded", "directory.systemDaemons"}));

    const Job runtime{"application.com.example.App.1234.5678", std::nullopt, entry("x", 7, "-"), false, std::nullopt};
    EXPECT_EQ(matching(runtime), (std::vector<std::string>{"all", "running", "runtimeOnly"}));
}

TEST(JobFilter, scheduledWatchingAndOnDemandReadTheFile) {
    struct Case {
        const char* name;
        PlistDictionary root;
        std::vector<std::string> filters;
    };
    const std::vector<std::string> base = {"installed", "all", "notLoaded", "directory.userAgents"};
    auto with = [&](std::string extra) {
        auto ids = base;
        ids.insert(ids.begin() + 3, std::move(extra));
        return ids;
    };
    PlistDictionary calendar;
    calendar.set("Hour", PlistValue(std::int64_t(3)));
    const std::vector<Case> cases = {
        {"interval 0", {{"StartInterval", PlistValue(std::int64_t(0))}}, with("scheduled")},
        {"interval -5", {{"StartInterval", PlistValue(std::int64_t(-5))}}, with("scheduled")},
        {"interval 300.5", {{"StartInterval", PlistValue(300.5)}}, with("scheduled")},
        {"interval as text", {{"StartInterval", PlistValue(std::string("300"))}}, base},
        {"text interval, real calendar",
         {{"StartInterval", PlistValue(true)}, {"StartCalendarInterval", PlistValue(calendar)}}, with("scheduled")},
        {"queue directory", {{"QueueDirectories", PlistValue(PlistArray{PlistValue(std::string("/tmp/q"))})}},
         with("watching")},
        {"watch path of a number", {{"WatchPaths", PlistValue(PlistArray{PlistValue(std::int64_t(1))})}}, base},
        {"mach services", {{"MachServices", PlistValue(PlistDictionary{})}}, with("onDemand")},
    };
    for (const Case& c : cases) EXPECT_EQ(matching(fileJob("org.example.x", JobDirectory::userAgents, c.root)), c.filters) << c.name;
}

TEST(JobFilter, casesAreDistinctAndLocationsComeInSidebarOrder) {
    std::vector<std::string> ids;
    for (const JobFilter& f : JobFilter::locations()) ids.push_back(f.id());
    EXPECT_EQ(ids, (std::vector<std::string>{"directory.userAgents", "directory.globalAgents", "directory.globalDaemons",
                                             "directory.systemAgents", "directory.systemDaemons", "runtimeOnly"}));
    EXPECT_EQ(JobFilter::locations()[2].systemImage(), "gearshape.2");
    EXPECT_EQ(JobFilter::locations()[3].help(), JobFilter::locations()[4].help());

    std::unordered_set<JobFilter> set(JobFilter::locations().begin(), JobFilter::locations().end());
    set.insert(JobFilter(Kind::runtimeOnly));
    set.insert(JobFilter::directory(JobDirectory::userAgents));
    EXPECT_EQ(set.size(), 6u);
    EXPECT_NE(JobFilter::directory(JobDirectory::userAgents), JobFilter::directory(JobDirectory::globalAgents));
}

}  // namespace
}  // namespace qw
