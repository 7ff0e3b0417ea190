#include "Quillwick/store/JobIndex.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

std::string plist(std::string_view body) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>") + std::string(body) +
           "</dict></plist>\n";
}

std::string labelled(std::string_view label, std::string_view more = "") {
    return plist("<key>Label</key><string>" + std::string(label) + "</string>" + std::string(more));
}

void put(const fs::path& path, std::string_view contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

fs::path write(JobDirectory folder, const std::string& name, std::string_view contents) {
    fs::create_directories(folder.url());
    const fs::path path = folder.url() / name;
    put(path, contents);
    return path;
}

std::vector<std::string> ids(const JobIndex& index) {
    std::vector<std::string> out;
    for (const Job& job : index.jobs) out.push_back(job.id());
    return out;
}

const Job* find(const JobIndex& index, std::string_view id) {
    for (const Job& job : index.jobs)
        if (job.id() == id) return &job;
    return nullptr;
}

TEST(JobIndex, scanReadsEveryFolderAndKeepsBrokenFilesListed) {
    test::SandboxRoot root;
    fs::remove_all(JobDirectory(JobDirectory::userAgents).url());  // a fresh account has none
    write(JobDirectory::globalAgents, "b.plist", labelled("x", "<key>RunAtLoad</key><true/>"));
    write(JobDirectory::globalAgents, "a.plist", labelled("x"));
    write(JobDirectory::globalAgents, "empty.plist", labelled(""));
    write(JobDirectory::globalAgents, "numbered.plist", plist("<key>Label</key><integer>42</integer>"));
    write(JobDirectory::globalAgents, "broken.plist", "<plist><dict><key>");
    write(JobDirectory::globalAgents, "list.plist", "<plist version=\"1.0\"><array/></plist>");
    write(JobDirectory::globalAgents, "skipped.PLIST", labelled("upper"));
    write(JobDirectory::globalAgents, "skipped.plist.bak", labelled("backup"));
    write(JobDirectory::globalAgents, ".hidden.plist", labelled("hidden"));
    fs::create_directories(JobDirectory(JobDirectory::globalAgents).url() / "folder.plist");
    ASSERT_EQ(::mkfifo((JobDirectory(JobDirectory::globalAgents).url() / "pipe.plist").c_str(), 0644), 0);

    const auto scan = JobIndex::scanDirectories();
    EXPECT_TRUE(scan.unreadable.empty());
    ASSERT_EQ(scan.definitions.size(), 4u);  // no user agents folder
    EXPECT_EQ(scan.definitions[0].first, JobDirectory::globalAgents);
    const auto& agents = scan.definitions[0].second;
    std::vector<std::string> labels;
    for (const auto& [label, _] : agents) labels.push_back(label);
    EXPECT_EQ(labels, (std::vector<std::string>{"broken", "empty", "folder", "list", "numbered", "pipe", "x"}));

    EXPECT_EQ(agents.at("x").location->url.filename(), "b.plist");  // the later name wins, every time
    EXPECT_TRUE(agents.at("broken").loadFailure->starts_with("Could not read broken.plist"));
    EXPECT_TRUE(agents.at("broken").file.root.empty());
    EXPECT_EQ(*agents.at("list").loadFailure,
              "list.plist is a property list, but not a dictionary. A launchd job has to be a dictionary of keys "
              "at the top level.");
    EXPECT_TRUE(agents.at("pipe").loadFailure.has_value());
    EXPECT_TRUE(agents.at("folder").loadFailure.has_value());
    EXPECT_FALSE(agents.at("numbered").loadFailure.has_value());
}

TEST(JobIndex, oversizedFilesAndUnlistableFoldersAreReportedNotRead) {
    test::SandboxRoot root;
    write(JobDirectory::userAgents, "huge.plist", std::string(JobIndex::largestJobFile + 1, ' '));
    fs::remove_all(JobDirectory(JobDirectory::globalDaemons).url());
    put(JobDirectory(JobDirectory::globalDaemons).url(), "not a folder");
    fs::remove_all(JobDirectory(JobDirectory::systemDaemons).url());
    put(JobDirectory(JobDirectory::systemDaemons).url(), "not a folder");

    const auto index = JobIndex::build();
    EXPECT_EQ(index.unreadableDirectories,
              (std::vector<JobDirectory>{JobDirectory::globalDaemons, JobDirectory::systemDaemons}));
    ASSERT_EQ(index.jobs.size(), 1u);
    EXPECT_TRUE(index.jobs[0].definition->loadFailure->starts_with("Could not read huge.plist"));
}

TEST(JobIndex, buildJoinsFilesWithLaunchdsState) {
    test::SandboxRoot root;
    const std::string sleeper = "<key>ProgramArguments</key><array><string>/bin/sleep</string><string>30</string>"
                                "</array><key>RunAtLoad</key><true/>";
    const auto agent = write(JobDirectory::userAgents, "org.example.agent.plist", labelled("org.example.agent", sleeper));
    write(JobDirectory::globalAgents, "org.example.agent.plist", labelled("org.example.agent"));
    const auto daemon = write(JobDirectory::globalDaemons, "org.example.daemon.plist",
                              labelled("org.example.daemon", sleeper));
    write(JobDirectory::globalDaemons, "org.example.idle.plist", labelled("org.example.idle"));
    const auto runtime = root.path() / "runtime.plist";
    put(runtime, labelled("application.com.example.App.1", sleeper));
    write(JobDirectory::userAgents, "job10.plist", labelled("job10"));
    write(JobDirectory::userAgents, "Job2.plist", labelled("Job2"));
    write(JobDirectory::userAgents, "job1.plist", labelled("job1"));

    const std::string gui = LaunchdDomain::currentGUI().description();
    ASSERT_EQ(root.launchctl({"bootstrap", gui, agent.string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", gui, runtime.string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"bootstrap", "system", daemon.string()}).exitStatus, 0);
    ASSERT_EQ(root.launchctl({"disable", "system/org.example.agent"}).exitStatus, 0);

    const auto index = JobIndex::build();
    EXPECT_EQ(ids(index), (std::vector<std::string>{
                              "runtime:application.com.example.App.1", "userAgents:job1", "userAgents:Job2",
                              "userAgents:job10", "userAgents:org.example.agent", "globalAgents:org.example.agent",
                              "globalDaemons:org.example.daemon", "globalDaemons:org.example.idle"}));
    EXPECT_EQ(index.duplicatedLabels, (std::set<std::string>{"org.example.agent"}));

    const Job* userAgent = find(index, "userAgents:org.example.agent");
    ASSERT_TRUE(userAgent && userAgent->status && userAgent->status->pid);
    EXPECT_TRUE(userAgent->isDisabled);  // disabled in the system domain counts everywhere
    EXPECT_TRUE(find(index, "globalAgents:org.example.agent")->isDisabled);
    // One job per label and domain: launchd loaded the user's file, so the other one is not loaded.
    EXPECT_FALSE(find(index, "globalAgents:org.example.agent")->status);
    EXPECT_EQ(JobIndex::otherFiles(index.jobs, *userAgent),
              std::vector<std::string>{(JobDirectory(JobDirectory::globalAgents).url() / "org.example.agent.plist").string()});

    const Job* app = find(index, "runtime:application.com.example.App.1");
    EXPECT_FALSE(app->definition || app->directory);
    EXPECT_TRUE(app->isRunning());

    const Job* loadedDaemon = find(index, "globalDaemons:org.example.daemon");
    ASSERT_TRUE(loadedDaemon->status);
    EXPECT_TRUE(loadedDaemon->status->pid);
    EXPECT_EQ(loadedDaemon->health(), Job::Health::running);
    EXPECT_EQ(find(index, "globalDaemons:org.example.idle")->health(), Job::Health::notLoaded);

    // The same machine scanned again reads the same.
    EXPECT_EQ(JobIndex::build(), index);
}

TEST(JobIndex, aMissingLaunchctlLeavesEveryJobNotLoaded) {
    test::SandboxRoot root;
    write(JobDirectory::userAgents, "a.plist", labelled("a"));
    fs::remove(root.paths().launchctl());
    const auto index = JobIndex::build();
    ASSERT_EQ(index.jobs.size(), 1u);
    EXPECT_FALSE(index.jobs[0].status);
    EXPECT_FALSE(index.jobs[0].isDisabled);
}

TEST(JobIndex, labelsCompareAsTheFileBrowserSortsThem) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    for (const Case& c : std::vector<Case>{{"job2", "job10", -1}, {"Job2", "job1", 1}, {"ABC", "abc", 0},
                                           {"job007", "job7", 0}, {"job", "job1", -1}, {"a.b", "a-b", 1},
                                           {"x99999999999999999999", "x100000000000000000000", -1}})
        EXPECT_EQ(JobIndex::compareLabels(c.a, c.b), c.order) << c.a << " vs " << c.b;
}

}  // namespace
}  // namespace qw
