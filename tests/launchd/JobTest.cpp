#include "Quillwick/launchd/Job.h"

#include <gtest/gtest.h>

namespace qw {
namespace {

using ExitStatus = RuntimeState::ExitStatus;

JobDefinition definitionIn(JobDirectory directory, const std::string& label) {
    return JobDefinition(label, JobLocation::forLabel(directory, label));
}

Job fileJob(JobDirectory directory, const std::string& label, std::optional<LaunchctlListEntry> status = std::nullopt,
            bool disabled = false) {
    return Job{label, definitionIn(directory, label), std::move(status), disabled, directory};
}

TEST(Job, healthTakesTheFirstRuleThatApplies) {
    struct Case {
        const char* name;
        std::optional<LaunchctlListEntry> status;
        bool disabled;
        Job::Health health;
    };
    const Case cases[] = {
        {"disabled with a process", LaunchctlListEntry{"l", 42, ExitStatus::code(1)}, true, Job::Health::disabled},
        {"disabled, not listed", std::nullopt, true, Job::Health::disabled},
        {"not listed", std::nullopt, false, Job::Health::notLoaded},
        {"running", LaunchctlListEntry{"l", 42, ExitStatus::code(1)}, false, Job::Health::running},
        {"no last exit", LaunchctlListEntry{"l", std::nullopt, std::nullopt}, false, Job::Health::loadedIdle},
        {"code 0", LaunchctlListEntry{"l", std::nullopt, ExitStatus::code(0)}, false, Job::Health::loadedIdle},
        {"SIGTERM", LaunchctlListEntry{"l", std::nullopt, ExitStatus::signal(15)}, false, Job::Health::loadedIdle},
        {"never exited", LaunchctlListEntry{"l", std::nullopt, ExitStatus::neverExited()}, false,
         Job::Health::loadedIdle},
        {"code 1", LaunchctlListEntry{"l", std::nullopt, ExitStatus::code(1)}, false, Job::Health::failed},
        {"SIGSEGV", LaunchctlListEntry{"l", std::nullopt, ExitStatus::signal(11)}, false, Job::Health::failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = fileJob(JobDirectory::userAgents, "l", c.status, c.disabled);
        EXPECT_EQ(job.health(), c.health);
        EXPECT_EQ(job.isLoaded(), c.status.has_value());
        EXPECT_EQ(job.isRunning(), c.status && c.status->pid);
    }
}

TEST(Job, labelsDecideAppleInstalledAndRegisteredByApp) {
    struct Case {
        const char* label;
        std::optional<JobDirectory> directory;
        bool apple, installed, byApp;
    };
    const Case cases[] = {
        {"com.example.agent", JobDirectory::userAgents, false, true, false},
        {"com.apple.something", JobDirectory::userAgents, true, false, false},
        {"org.example.com.apple.agent", JobDirectory::globalAgents, true, false, false},
        {"Com.Apple.thing", JobDirectory::globalAgents, false, true, false},
        {"com.example.daemon", JobDirectory::systemDaemons, true, false, false},
        {"application.com.example.App.1234.5678", std::nullopt, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Job job{c.label, std::nullopt, std::nullopt, false, c.directory};
        if (c.directory) job.definition = definitionIn(*c.directory, c.label);
        EXPECT_EQ(job.isApple(), c.apple);
        EXPECT_EQ(job.isInstalled(), c.installed);
        EXPECT_EQ(job.isRegisteredByApp(), c.byApp);
    }
}

TEST(Job, idAndDomainFollowTheFolder) {
    const auto agent = fileJob(JobDirectory::userAgents, "com.apple.something");
    EXPECT_EQ(agent.id(), "userAgents:com.apple.something");
    EXPECT_EQ(agent.domain(), LaunchdDomain::gui(currentUserID()));

    const auto daemon = fileJob(JobDirectory::globalDaemons, "com.example.d");
    EXPECT_EQ(daemon.id(), "globalDaemons:com.example.d");
    EXPECT_EQ(daemon.serviceTarget(), (ServiceTarget{LaunchdDomain::system(), "com.example.d"}));
    EXPECT_FALSE(daemon.isSystem());
    EXPECT_TRUE(fileJob(JobDirectory::systemAgents, "x").isSystem());
    EXPECT_EQ(fileJob(JobDirectory::systemDaemons, "x").domain(), LaunchdDomain::system());

    const Job runtime{"com.example.r", std::nullopt, LaunchctlListEntry{"com.example.r", 7, std::nullopt}, false,
                      std::nullopt};
    EXPECT_EQ(runtime.id(), "runtime:com.example.r");
    EXPECT_TRUE(runtime.isRuntimeOnly());
    EXPECT_EQ(runtime.domain(), LaunchdDomain::currentGUI());
    EXPECT_EQ(runtime.pid(), 7);

    // The same label in two folders is two jobs.
    EXPECT_NE(fileJob(JobDirectory::userAgents, "x"), fileJob(JobDirectory::globalAgents, "x"));
    EXPECT_NE(fileJob(JobDirectory::userAgents, "x").id(), fileJob(JobDirectory::globalAgents, "x").id());
}

TEST(Job, equalityAndHashCoverEveryField) {
    const auto base = fileJob(JobDirectory::userAgents, "x", LaunchctlListEntry{"x", 1, ExitStatus::code(0)});
    EXPECT_EQ(base, base);
    EXPECT_EQ(base.hash(), Job(base).hash());
    auto changed = base;
    changed.isDisabled = true;
    EXPECT_NE(base, changed);
    changed = base;
    changed.status->lastExit = ExitStatus::code(0, "OK");
    EXPECT_NE(base, changed);
    changed = base;
    changed.definition->set("RunAtLoad", PlistValue(true));
    EXPECT_NE(base, changed);
    changed = base;
    changed.status.reset();
    EXPECT_NE(base, changed);
}

}  // namespace
}  // namespace qw
