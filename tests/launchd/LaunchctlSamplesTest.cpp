// Output of real launchctl, copied from real Macs (and one iPad), read by the readers: each case holds
// what a person reads from the text.
#include <gtest/gtest.h>

#include <filesystem>

#include "Quillwick/launchd/DisabledOverrides.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/RuntimeState.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

using ExitStatus = RuntimeState::ExitStatus;

std::string sample(const std::string& name) {
    const auto path = std::filesystem::path(QUILLWICK_TEST_DATA) / "launchctl-samples" / name;
    const auto text = test::readFile(path);
    EXPECT_FALSE(text.empty()) << path;
    return text;
}

const LaunchctlListEntry* find(const std::vector<LaunchctlListEntry>& entries, std::string_view label) {
    for (const auto& entry : entries)
        if (entry.label == label) return &entry;
    return nullptr;
}

TEST(LaunchctlSamples, domainFormServicesRows) {
    struct Row {
        const char* label;
        std::optional<std::int32_t> pid;
        std::optional<ExitStatus> lastExit;
    };
    struct Case {
        const char* file;
        std::size_t count;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"domain-system.macos26-dumpstate.TRIMMED.txt",
         40,
         {{"com.apple.rpmuxd", std::nullopt, ExitStatus::neverExited()},
          {"com.apple.kernelmanager_helper", 47529, std::nullopt},
          {"com.apple.runningboardd", 625, ExitStatus::neverExited()},
          {"com.apple.wifiFirmwareLoader", std::nullopt, ExitStatus::code(1)},
          {"com.apple.Kerberos.digest-service", std::nullopt, ExitStatus::signal(9)},
          {"com.apple.netbiosd", 47179, ExitStatus::code(0)},
          {"com.apple.IOUserDockChannelSerial-0x100001008", 740, ExitStatus::neverExited()}}},
        {"domain-system.ipados18.txt",
         17,
         {{"com.apple.fseventsd", 98, ExitStatus::neverExited()},
          {"com.apple.iomfb_fdr_loader", std::nullopt, ExitStatus::code(1)},
          {"com.apple.cfprefsd.xpc.daemon.system", 107, ExitStatus::neverExited()}}},
        {"domain-system.slaunchctl-fixture.spaces.txt",
         3,
         {{"com.apple.lskdd", std::nullopt, ExitStatus::neverExited()},
          {"com.apple.runningboardd", 184, ExitStatus::neverExited()}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto entries = LaunchctlListEntry::parseDomainServices(sample(c.file));
        EXPECT_EQ(entries.size(), c.count);
        for (const auto& row : c.rows) {
            SCOPED_TRACE(row.label);
            const auto* entry = find(entries, row.label);
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->pid, row.pid);
            EXPECT_EQ(entry->lastExit, row.lastExit);
        }
        // Subdomains, endpoints and the disabled list are other blocks, not services.
        EXPECT_EQ(find(entries, "pid/578"), nullptr);
        EXPECT_EQ(find(entries, "com.apple.logd.admin"), nullptr);
    }
    EXPECT_TRUE(LaunchctlListEntry::parseDomainServices(sample("print-gui-exit127.motherboard-repair.txt")).empty());
    EXPECT_TRUE(LaunchctlListEntry::parseDomainServices("").empty());
}

struct PrintFacts {
    const char* file;
    std::optional<std::string> state;
    std::optional<std::int32_t> pid;
    std::optional<std::int64_t> runs;
    std::optional<ExitStatus> lastExit;
    std::string summary;
    std::size_t arguments;
    std::string lastArgument;
    std::size_t properties;
    std::optional<std::string> jobState = std::nullopt;
};

TEST(LaunchctlSamples, printedServicesReadAsAPersonReadsThem) {
    const auto never = ExitStatus::neverExited();
    const PrintFacts cases[] = {
        {"print-gui-bash-lc-redirect-arg.openclaw-backup-2026-08-22.txt", "not running", {}, 1, ExitStatus::code(0),
         "Not running", 3,
         "/Users/ny/.openclaw/workspace/scripts/run-badge-followback.sh >> "
         "/Users/ny/.openclaw/workspace/logs/badge-followback.log 2>&1",
         1},
        {"print-gui-calendar-neverexited.openclaw-backup-2026-08-22.txt", "not running", {}, 0, never, "Not running", 2,
         "/Users/ny/.openclaw/workspace/scripts/auto_detect_and_unfollow_inactive.js", 1},
        {"print-gui-exit127.motherboard-repair.txt", "not running", {}, 2, ExitStatus::code(127),
         "Not running — last exit code 127", 2,
         "/Users/marcela-dev/Projects/Motherboard_Systems_HQ/scripts/disaster-recovery/create-phase736-external-backup.sh", 4},
        {"print-gui-four-calendar-triggers.openclaw-backup-2026-08-22.txt", "not running", {}, 29, ExitStatus::code(0),
         "Not running", 2, "/Users/ny/.openclaw/workspace/scripts/comment-orchestrator.sh", 1},
        {"print-gui-monitor-notrunning.openclaw-report-2026-03-24.txt", "not running", {}, 2, ExitStatus::code(0),
         "Not running", 8, "/Users/tsgsz/.openclaw/openclaw-enhance", 2},
        {"print-gui-monitor-running-lastsignal.openclaw-report-2026-03-16.txt", "running", 35711, 2,
         ExitStatus::signal(15), "Running (pid 35711)", 8, "/Users/tsgsz/.openclaw/openclaw-enhance", 2},
        {"print-gui-running-keepalive.openclaw-backup-2026-08-22.txt", "running", 94358, 1, never,
         "Running (pid 94358)", 7, "18789", 4},
        {"print-gui-running-lastsignal.motherboard-repair.txt", "running", 4669, 2, ExitStatus::signal(15),
         "Running (pid 4669)", 2,
         "/Users/marcela-dev/Projects/motherboard-systems-hq-clean/scripts/disaster-recovery/create-phase736-external-backup.sh",
         2},
        {"print-gui-smappservice-submitted.slaunchctl-fixture.spaces.txt", "not running", {}, 1, ExitStatus::code(0),
         "Not running", 0, "", 3, "exited"},
        {"print-system-akd.slaunchctl-fixture.spaces.txt", "running", 928, 1, never, "Running (pid 928)", 1,
         "/System/Library/PrivateFrameworks/AuthKit.framework/Versions/A/Support/akd", 5, "running"},
        {"print-system-catalina-oldformat.wazuh-packages-2206.spaces.TRUNCATED.txt", "running", 1061, 2,
         ExitStatus::code(0), "Running (pid 1061)", 1, "/Library/StartupItems/WAZUH/Wazuh-launcher", 0},
        {"print-system-data-values-brace-on-line.bluuuk-problem4.ios.txt", "running", 141, 1, never,
         "Running (pid 141)", 0, "", 5, "running"},
        {"print-system-empty-env-value.bluuuk-problem3.txt", "running", 113, 1, never, "Running (pid 113)", 1,
         "/usr/libexec/remoted", 6, "running"},
        {"print-system-exit1.ipados18.txt", "not running", {}, 1, ExitStatus::code(1), "Not running — last exit code 1",
         2, "--launchd_boot", 7},
        {"print-system-fseventsd.ipados18.txt", "running", 98, 1, never, "Running (pid 98)", 1,
         "/usr/libexec/fseventsd", 7},
        {"print-system-notrunning.wazuh-agent-569-2025.TRUNCATED.txt", "not running", {}, 1, ExitStatus::code(0),
         "Not running", 1, "/Library/Application Support/Wazuh agent.app/bin/wazuh-agent", 0},
        {"print-system-systemstats-analysis.bluuuk-readme.txt", "running", 103, 1, never, "Running (pid 103)", 2,
         "--daemon", 7},
        {"print-system-wazuh-running.wazuh-30799-2025.txt", "running", 297, 1, never, "Running (pid 297)", 1,
         "/Library/StartupItems/WAZUH/Wazuh-launcher", 3},
        // Killed for memory: launchd names the reason and prints no exit at all.
        {"print-user501-jetsam-exit-reason.ipados18.txt", "running", 1493, 6, std::nullopt, "Running (pid 1493)", 1,
         "/System/Library/PrivateFrameworks/IMCore.framework/imagent.app/imagent", 8, "running"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto state = RuntimeState::fromPrintOutput(sample(c.file));
        ASSERT_TRUE(state);
        EXPECT_EQ(state->state, c.state);
        EXPECT_EQ(state->pid, c.pid);
        EXPECT_EQ(state->runs, c.runs);
        EXPECT_EQ(state->lastExit, c.lastExit);
        EXPECT_EQ(state->summary(), c.summary);
        EXPECT_EQ(state->arguments.size(), c.arguments);
        EXPECT_EQ(state->arguments.empty() ? "" : state->arguments.back(), c.lastArgument);
        EXPECT_EQ(state->properties.size(), c.properties);
        EXPECT_EQ(state->jobState, c.jobState);
        EXPECT_FALSE(state->isThrottled());
        EXPECT_TRUE(state->path && !state->path->empty());
        EXPECT_TRUE(state->environment.contains("XPC_SERVICE_NAME"));
    }
}

TEST(LaunchctlSamples, detailsOfSingleSamples) {
    const auto remoted = RuntimeState::fromPrintOutput(sample("print-system-empty-env-value.bluuuk-problem3.txt"));
    EXPECT_EQ(remoted->environment.at("PRODUCT_INFO_FILTER_DISABLE"), "");
    EXPECT_EQ(remoted->environment.size(), 4u);

    const auto submitted = RuntimeState::fromPrintOutput(sample("print-gui-smappservice-submitted.slaunchctl-fixture.spaces.txt"));
    EXPECT_EQ(submitted->type, "Submitted");
    EXPECT_EQ(submitted->path, "(submitted by smd.500)");
    EXPECT_FALSE(submitted->program);

    const auto gateway = RuntimeState::fromPrintOutput(sample("print-gui-running-keepalive.openclaw-backup-2026-08-22.txt"));
    EXPECT_EQ(gateway->domain, "gui/501 [100002]");
    EXPECT_EQ(gateway->defaultEnvironment.at("PATH"), "/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_TRUE(gateway->inheritedEnvironment.contains("SSH_AUTH_SOCK"));

    // Entries and closing braces that share a line: every block still ends where launchd meant it to.
    const auto proxy = RuntimeState::fromPrintOutput(sample("print-system-data-values-brace-on-line.bluuuk-problem4.ios.txt"));
    const auto& raw = *proxy->raw;
    EXPECT_EQ(raw.string("spawn type"), "adaptive (6)");
    ASSERT_TRUE(raw.block("event triggers"));
    const auto* handles = raw.block("event triggers")->block("new-handles");
    ASSERT_TRUE(handles);
    const auto* aux = handles->block("descriptor")->block("aux-data");
    ASSERT_TRUE(aux);
    ASSERT_EQ(aux->entries.size(), 2u);
    EXPECT_EQ(aux->entries[1].key, "NSPProxyAgentManagerAuxilaryData");
    EXPECT_EQ(*aux->entries[1].value.scalarText(), "");
    EXPECT_TRUE(handles->block("descriptor")->block("0"));
    EXPECT_TRUE(raw.block("event triggers")->block("RequiredItems"));
}

TEST(LaunchctlSamples, listAndDisabledRecords) {
    struct Case {
        const char* file;
        std::size_t count;
        const char* label;
        std::optional<std::int32_t> pid;
    };
    const Case cases[] = {
        {"list-bigsur-2021-01.retrocomputing-blog.txt", 3, "com.apple.progressd", 555},
        {"list-elcapitan10.11.lunchy-go-7-2015.TRUNCATED.txt", 34, "com.apple.Finder", 279},
        {"list-sequoia15-root.wazuh-24157-2024-10.TRUNCATED.txt", 30, "com.apple.coreservicesd", 154},
        {"list-sonoma14-grep-agent.wazuh-24157-2024-10.txt", 15, "com.apple.trustd.agent", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto entries = LaunchctlListEntry::parse(sample(c.file));
        EXPECT_EQ(entries.size(), c.count);
        const auto* entry = find(entries, c.label);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->pid, c.pid);
        // Since 10.10 a job that has not exited shows 0, not "-"; only the crashed window server differs.
        for (const auto& e : entries)
            EXPECT_EQ(e.lastExit, e.label == "com.apple.WindowServer" ? ExitStatus::signal(11) : ExitStatus::code(0))
                << e.label;
    }

    // Before macOS 13 the records said true and false.
    const auto overrides =
        DisabledOverrides::fromPrintDisabledOutput(sample("print-disabled-user501-truefalse.ninehills-blog-85-2021-11.txt"));
    EXPECT_EQ(overrides.entries.size(), 15u);
    EXPECT_FALSE(overrides.entries.contains("version.com.docker.helper")) << "login item associations are not records";
    EXPECT_EQ(overrides.entries.at("com.apple.Siri.agent"), true);
    EXPECT_EQ(overrides.entries.at("com.docker.helper"), false);
}

}  // namespace
}  // namespace qw
