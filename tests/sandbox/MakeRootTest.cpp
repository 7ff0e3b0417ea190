#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"
#include "support/SandboxRoot.h"

namespace qw::test {
namespace {

namespace fs = std::filesystem;

Subprocess::Result makeRoot(const std::vector<std::string>& arguments, Subprocess::Environment environment = {})
{
    environment.emplace("PATH", "/usr/bin:/bin");
    return Subprocess::run(SandboxRoot::makeRootScript().string(), arguments, std::string(), environment);
}

TEST(MakeRoot, laysTheMachineTreeAndLinksTheToolsFromTheGivenFolder)
{
    TemporaryFolder folder;
    const fs::path root = folder.path() / "machine";
    const fs::path tools = SandboxRoot::toolsDirectory();
    // Twice: laying over an existing root must work too.
    for (int pass = 0; pass < 2; ++pass) {
        const auto result = makeRoot({root.string(), "--tools", tools.string()});
        ASSERT_EQ(result.exitStatus, 0) << result.message();
    }

    const fs::path home = root / "Users" / SystemPaths::loginName();
    for (const fs::path& folderPath :
         {home / "Library/LaunchAgents", home / "Library/Logs", home / "Library/Application Support/Quillwick",
          root / "Library/LaunchAgents", root / "Library/LaunchDaemons", root / "Library/Logs",
          root / "System/Library/LaunchAgents", root / "System/Library/LaunchDaemons",
          root / "private/var/db/launchd", root / "private/var/log", root / "private/var/at/tabs",
          root / "var/run"})
        EXPECT_TRUE(fs::is_directory(folderPath)) << folderPath;

    const std::pair<const char*, const char*> links[] = {
        {"bin/launchctl", "launchctl"}, {"usr/bin/log", "log"}, {"usr/bin/osascript", "osascript"},
        {"usr/bin/crontab", "crontab"}};
    for (const auto& [link, tool] : links) {
        ASSERT_TRUE(fs::is_symlink(root / link)) << link;
        EXPECT_EQ(fs::read_symlink(root / link), fs::canonical(tools) / tool) << link;
    }
    // Nothing of the demo machine without --demo.
    EXPECT_TRUE(fs::is_empty(root / "Library/LaunchDaemons"));
}

TEST(MakeRoot, takesTheToolsFolderFromTheEnvironmentAndRefusesWhatItCannotUse)
{
    TemporaryFolder folder;
    const fs::path tools = folder.path() / "tools";
    fs::create_directories(tools);
    auto result = makeRoot({(folder.path() / "a").string()}, {{"QUILLWICK_TOOLS", tools.string()}});
    ASSERT_EQ(result.exitStatus, 0) << result.message();
    EXPECT_EQ(fs::read_symlink(folder.path() / "a/usr/bin/log"), fs::canonical(tools) / "log");

    result = makeRoot({(folder.path() / "b").string(), "--tools", (folder.path() / "none").string()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.standardError.find("no stand-in tools"), std::string::npos) << result.standardError;

    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"--tools"}, {"x", "y"}, {"x", "--bogus"}}) {
        result = makeRoot(arguments);
        EXPECT_EQ(result.exitStatus, 64);
        EXPECT_EQ(result.standardError, "usage: make-root DIR [--demo] [--tools BINDIR]\n");
    }
}

TEST(SandboxRoot, pointsThePathsAndTheEnvironmentAtItsRootUntilItGoes)
{
    const fs::path before = SystemPaths::current().root();
    fs::path path;
    {
        SandboxRoot root;
        path = root.path();
        EXPECT_EQ(SystemPaths::current().root(), path);
        EXPECT_EQ(SystemPaths::current().home(), path / "Users" / SystemPaths::loginName());
        ASSERT_NE(std::getenv("QUILLWICK_ROOT"), nullptr);
        EXPECT_EQ(fs::path(std::getenv("QUILLWICK_ROOT")), path);
        EXPECT_TRUE(fs::is_symlink(root.resolve("/usr/bin/crontab")));

        const fs::path written = root.writeFile("/Library/LaunchAgents/sub/x.plist", "data", 0666);
        EXPECT_EQ(written, path / "Library/LaunchAgents/sub/x.plist");
        struct stat info {};
        ASSERT_EQ(::stat(written.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0666u);  // not filtered by the umask
        // A folder a test made read-only must not keep the root from going.
        fs::permissions(written.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(SystemPaths::current().root(), before);
}

}  // namespace
}  // namespace qw::test
