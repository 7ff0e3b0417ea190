#include "helperkit/SystemPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> rootVariable() {
    const char* v = std::getenv("QUILLWICK_ROOT");
    return v ? std::optional<std::string>(v) : std::nullopt;
}

TEST(SystemPaths, macPathsResolveUnderTheSandboxRoot) {
    const SystemPaths paths = SystemPaths::forRoot("/tmp/qw-root");
    EXPECT_TRUE(paths.isSandboxed());
    EXPECT_EQ(paths.resolve("/Library/LaunchDaemons"), fs::path("/tmp/qw-root/Library/LaunchDaemons"));
    EXPECT_EQ(paths.launchctl(), fs::path("/tmp/qw-root/bin/launchctl"));
    EXPECT_EQ(paths.helperSocket(), fs::path("/tmp/qw-root/var/run/com.tarnmoor.quillwick.helper.sock"));
    EXPECT_EQ(paths.home(), fs::path("/tmp/qw-root/Users") / SystemPaths::loginName());
    EXPECT_EQ(paths.userLaunchAgents(), paths.home() / "Library/LaunchAgents");
    EXPECT_EQ(paths.applicationSupport(), paths.home() / "Library/Application Support");
    EXPECT_THROW(paths.resolve("Library/LaunchDaemons"), std::invalid_argument);

    const SystemPaths real("/", "/Users/someone");
    EXPECT_FALSE(real.isSandboxed());
    EXPECT_EQ(real.resolve("/usr/bin/crontab"), fs::path("/usr/bin/crontab"));
}

TEST(SystemPaths, overrideReplacesCurrentAndTheChildEnvironmentThenRestoresBoth) {
    const auto before = rootVariable();
    const fs::path beforeRoot = SystemPaths::current().root();
    test::TemporaryFolder outer, inner;
    {
        SystemPaths::Override first(SystemPaths::forRoot(outer.path()));
        EXPECT_EQ(SystemPaths::current().root(), outer.path());
        EXPECT_EQ(rootVariable(), outer.path().string());
        {
            SystemPaths::Override second(SystemPaths::forRoot(inner.path()));
            EXPECT_EQ(SystemPaths::current().root(), inner.path());
            EXPECT_EQ(rootVariable(), inner.path().string());
            // A child process sees the same machine.
            auto r = Subprocess::run("/bin/sh", {"-c", "printf %s \"$QUILLWICK_ROOT\""});
            EXPECT_EQ(r.standardOutput, inner.path().string());
        }
        EXPECT_EQ(SystemPaths::current().root(), outer.path());
        EXPECT_EQ(rootVariable(), outer.path().string());
    }
    EXPECT_EQ(SystemPaths::current().root(), beforeRoot);
    EXPECT_EQ(rootVariable(), before);
}

TEST(SystemPaths, loginNameIsThePasswdNameOfTheEffectiveUser) {
    auto r = Subprocess::run("/usr/bin/id", {"-un"});
    if (r.succeeded()) {
        EXPECT_EQ(SystemPaths::loginName(), r.message());
    }
}

}  // namespace
}  // namespace qw
