#include "helperkit/SystemPaths.h"

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(SystemPaths, pathsAJobNamesAreTheMachinesOwn) {
    const SystemPaths paths = SystemPaths::forRoot("/tmp/qw-root");
    const std::pair<const char*, const char*> cases[] = {
        {"/Library/Logs/x.log", "/tmp/qw-root/Library/Logs/x.log"},
        {"//Users/a//Logs/", "/tmp/qw-root/Users/a/Logs"},
        {"/tmp/qw-root/Library/Logs/x.log", "/tmp/qw-root/Library/Logs/x.log"},
        {"/tmp/qw-rootless/x", "/tmp/qw-root/tmp/qw-rootless/x"},
        {"/../../etc/passwd", "/tmp/qw-root/etc/passwd"},
        {"/tmp/qw-root/../x", "/tmp/qw-root/tmp/x"},
        {"/dev/null", "/dev/null"},
        {"logs/out.log", "logs/out.log"},
    };
    for (const auto& [named, held] : cases) EXPECT_EQ(paths.machinePath(named), held) << named;
    EXPECT_EQ(SystemPaths("/", "/Users/someone").machinePath("//Users/a/x.log"), "/Users/a/x.log");
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

// Runs in a child copy of this test program: prints what the process's own paths are, then checks
// that a later change of the variable does not move them.
TEST(SystemPaths, probe) {
    if (!std::getenv("QW_SYSTEM_PATHS_PROBE")) GTEST_SKIP() << "only in the child started below";
    const SystemPaths& paths = SystemPaths::current();
    const auto root = paths.root();
    ::setenv("QUILLWICK_ROOT", "/elsewhere", 1);
    std::printf("<%s|%s|%d>", root.c_str(), paths.home().c_str(), SystemPaths::current().root() == root);
}

std::string probe(const std::optional<std::string>& rootValue, const fs::path& directory) {
    Subprocess::Environment environment{{"QW_SYSTEM_PATHS_PROBE", "1"}};
    if (rootValue) environment["QUILLWICK_ROOT"] = *rootValue;
    const auto r = Subprocess::run(fs::read_symlink("/proc/self/exe").string(),
                                   {"--gtest_filter=SystemPaths.probe"}, std::nullopt, environment, directory);
    const auto open = r.standardOutput.find('<'), close = r.standardOutput.find('>', open);
    return open == std::string::npos ? r.standardOutput : r.standardOutput.substr(open, close - open + 1);
}

TEST(SystemPaths, theProcessRootComesFromTheEnvironmentOnceAndOnlyInSandboxBuilds) {
    test::TemporaryFolder folder;
    const std::string root = folder.path().string();
    const std::string users = "/Users/" + SystemPaths::loginName();
#ifdef QUILLWICK_SANDBOX
    EXPECT_EQ(probe(root, "/"), "<" + root + "|" + root + users + "|1>");
    EXPECT_EQ(probe(root + "/", "/"), "<" + root + "|" + root + users + "|1>");
    EXPECT_EQ(probe("machine", folder.path()), "<" + root + "/machine|" + root + "/machine" + users + "|1>");
    EXPECT_EQ(probe("/", "/").substr(0, 3), "</|");
#else
    EXPECT_EQ(probe(root, "/").substr(0, 3), "</|");
#endif
    EXPECT_EQ(probe(std::nullopt, "/").substr(0, 3), "</|");
}

TEST(SystemPaths, theBundleIsFoundFromTheExecutablesPath) {
    EXPECT_EQ(SystemPaths::bundleContaining("/b/Quillwick.app/Contents/MacOS/QuillwickHelper"),
              fs::path("/b/Quillwick.app"));
    EXPECT_EQ(SystemPaths::bundleContaining("/b/Quillwick.app/Contents/MacOS/../MacOS/Quillwick"),
              fs::path("/b/Quillwick.app"));
    for (const char* elsewhere : {"/b/tests/helperkit_tests", "/b/Contents/Quillwick", "/MacOS/Quillwick",
                                  "/Contents/MacOS/Quillwick", "Quillwick"})
        EXPECT_EQ(SystemPaths::bundleContaining(elsewhere), std::nullopt) << elsewhere;
    EXPECT_EQ(SystemPaths::applicationBundle(), std::nullopt) << "the test program is no bundle";
}

TEST(SystemPaths, loginNameIsThePasswdNameOfTheEffectiveUser) {
    auto r = Subprocess::run("/usr/bin/id", {"-un"});
    if (r.succeeded()) {
        EXPECT_EQ(SystemPaths::loginName(), r.message());
    }
}

}  // namespace
}  // namespace qw
