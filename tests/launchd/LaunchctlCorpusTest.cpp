// Every fuzz seed of the launchctl readers goes through all of them in the normal suite, so a seed that
// once broke a reader keeps being checked without a fuzz build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Quillwick/launchd/DisabledOverrides.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/LaunchctlOutput.h"
#include "Quillwick/launchd/RuntimeState.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

TEST(LaunchctlCorpus, everySeedReadsTheSameTwiceInEveryReader) {
    int seeds = 0;
    for (const char* target : {"fuzz_launchctl_print", "fuzz_launchctl_list", "fuzz_launchctl_print_disabled"}) {
        const fs::path folder = fs::path(QUILLWICK_SOURCE_DIR) / "fuzz" / "corpus" / target;
        ASSERT_TRUE(fs::is_directory(folder)) << folder;
        for (const auto& file : fs::directory_iterator(folder)) {
            SCOPED_TRACE(file.path().string());
            std::ifstream in(file.path(), std::ios::binary);
            std::stringstream buffer;
            buffer << in.rdbuf();
            const std::string text = buffer.str();
            ++seeds;

            const auto tree = LaunchctlOutput::parse(text);
            EXPECT_EQ(tree, LaunchctlOutput::parse(text));
            EXPECT_EQ(tree.hash(), LaunchctlOutput::parse(text).hash());
            const auto state = RuntimeState::fromPrintOutput(text);
            EXPECT_EQ(state, RuntimeState::fromPrintOutput(text));
            if (state) {
                (void)state->summary();
            }
            for (const auto& entry : LaunchctlListEntry::parse(text)) EXPECT_FALSE(entry.label.empty());
            EXPECT_EQ(LaunchctlListEntry::parseDomainServices(text), LaunchctlListEntry::parseDomainServices(text));
            const auto overrides = DisabledOverrides::fromPrintDisabledOutput(text);
            EXPECT_EQ(overrides, DisabledOverrides::fromPrintDisabledOutput(text));
            EXPECT_EQ(overrides.hash(), DisabledOverrides::fromPrintDisabledOutput(text).hash());
        }
    }
    EXPECT_GT(seeds, 0);
}

}  // namespace
}  // namespace qw
