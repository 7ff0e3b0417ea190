#include "helperkit/JobDirectory.h"

#include <gtest/gtest.h>

#include "helperkit/SystemPaths.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

TEST(JobDirectory, rawValuesRoundTripAndAreCaseSensitive) {
    for (JobDirectory d : JobDirectory::all()) EXPECT_EQ(JobDirectory::fromRawValue(d.rawValue()), d);
    for (std::string_view raw : {"UserAgents", "useragents", "userAgents ", "", "globalDaemon"})
        EXPECT_EQ(JobDirectory::fromRawValue(raw), std::nullopt) << raw;
}

TEST(JobDirectory, foldersLieUnderTheCurrentMachineRoot) {
    test::TemporaryFolder folder;
    SystemPaths::Override machine(SystemPaths::forRoot(folder.path()));
    const auto& paths = SystemPaths::current();
    EXPECT_EQ(JobDirectory(JobDirectory::userAgents).url(), paths.home() / "Library/LaunchAgents");
    EXPECT_EQ(JobDirectory(JobDirectory::globalAgents).url(), folder.path() / "Library/LaunchAgents");
    EXPECT_EQ(JobDirectory(JobDirectory::globalDaemons).url(), folder.path() / "Library/LaunchDaemons");
    EXPECT_EQ(JobDirectory(JobDirectory::systemAgents).url(), folder.path() / "System/Library/LaunchAgents");
    EXPECT_EQ(JobDirectory(JobDirectory::systemDaemons).url(), folder.path() / "System/Library/LaunchDaemons");
}

TEST(JobDirectory, daemonsLiveInTheSystemDomainAndAgentsInTheUsersGuiDomain) {
    for (JobDirectory d : JobDirectory::all()) {
        SCOPED_TRACE(d.rawValue());
        EXPECT_EQ(d.domain(), d.isDaemon() ? LaunchdDomain::system() : LaunchdDomain::gui(currentUserID()));
    }
}

}  // namespace
}  // namespace qw
