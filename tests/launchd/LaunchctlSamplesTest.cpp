// Output of real launchctl, copied from real Macs (and one iPad), read by the readers: each case holds
// what a person reads from the text.
#include <gtest/gtest.h>

#include <filesystem>

#include "Quillwick/launchd/LaunchctlListEntry.h"
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

}  // namespace
}  // namespace qw
