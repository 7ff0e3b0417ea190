#include "Quillwick/launchd/FileFacts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "helperkit/SystemPaths.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using Diagnostics::FileFacts;

class FileFactsTest : public ::testing::Test {
protected:
    FileFactsTest() : override_(SystemPaths::forRoot(folder_.path())) {}

    fs::path write(const std::string& name, unsigned mode) {
        const auto path = folder_.path() / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        ::chmod(path.c_str(), mode);
        return path;
    }

    // A job whose file lies at `path` in `directory`, with the given root entries.
    static Job job(JobDirectory directory, const fs::path& path, PlistDictionary root = {}) {
        JobDefinition definition(PlistFile(std::move(root), PlistFormat::xml), JobLocation(directory, path));
        return Job{"l", std::move(definition), std::nullopt, false, directory};
    }

    const fs::path& dir() const { return folder_.path(); }

    test::TemporaryFolder folder_;
    SystemPaths::Override override_;
};

TEST_F(FileFactsTest, aJobWithoutAFileHasNoFacts) {
    const Job runtime{"r", std::nullopt, LaunchctlListEntry{"r", 1, std::nullopt}, false, std::nullopt};
    EXPECT_EQ(FileFacts(runtime), FileFacts());
}

TEST_F(FileFactsTest, looseModesAreReadThroughSymbolicLinks) {
    struct Case {
        unsigned mode;
        bool loose;
    };
    const Case cases[] = {{0644, false}, {0600, false}, {0664, true}, {0646, true}, {0666, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const auto target = write("real-" + std::to_string(c.mode) + ".plist", c.mode);
        const auto link = dir() / ("link-" + std::to_string(c.mode) + ".plist");
        fs::create_symlink(target, link);
        for (const auto& path : {target, link}) {
            const auto facts = FileFacts(job(JobDirectory::userAgents, path));
            EXPECT_TRUE(facts.plistExists);
            EXPECT_TRUE(facts.plistIsReadable);
            EXPECT_EQ(facts.plistIsLooselyPermissioned, c.loose) << path;
        }
    }
}

TEST_F(FileFactsTest, ownershipMattersOutsideTheUsersOwnAgents) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand files to other owners";
    const auto path = write("owned.plist", 0644);
    EXPECT_FALSE(FileFacts(job(JobDirectory::globalDaemons, path)).plistIsWronglyOwned);
    ASSERT_EQ(::chown(path.c_str(), 4242, -1), 0);
    EXPECT_FALSE(FileFacts(job(JobDirectory::userAgents, path)).plistIsWronglyOwned);
    EXPECT_TRUE(FileFacts(job(JobDirectory::globalDaemons, path)).plistIsWronglyOwned);
    EXPECT_TRUE(FileFacts(job(JobDirectory::globalAgents, path)).plistIsWronglyOwned);

    // The sandbox root's owner stands in for root, as launchd there takes it to.
    ASSERT_EQ(::chown(dir().c_str(), 4242, -1), 0);
    EXPECT_FALSE(FileFacts(job(JobDirectory::globalDaemons, path)).plistIsWronglyOwned);
    ASSERT_EQ(::chown(path.c_str(), 4243, -1), 0);
    EXPECT_TRUE(FileFacts(job(JobDirectory::globalDaemons, path)).plistIsWronglyOwned);
}

TEST_F(FileFactsTest, ownershipIsTheLinkTargets) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can hand files and links to other owners";
    const auto rootOwned = write("root-owned.plist", 0644);
    const auto otherOwned = write("other-owned.plist", 0644);
    ASSERT_EQ(::chown(otherOwned.c_str(), 4242, -1), 0);
    const auto linkToRootOwned = dir() / "link-to-root-owned.plist";
    const auto linkToOtherOwned = dir() / "link-to-other-owned.plist";
    fs::create_symlink(rootOwned, linkToRootOwned);
    fs::create_symlink(otherOwned, linkToOtherOwned);
    ASSERT_EQ(::lchown(linkToRootOwned.c_str(), 4242, -1), 0);
    EXPECT_FALSE(FileFacts(job(JobDirectory::globalDaemons, linkToRootOwned)).plistIsWronglyOwned);
    EXPECT_TRUE(FileFacts(job(JobDirectory::globalDaemons, linkToOtherOwned)).plistIsWronglyOwned);
}

TEST_F(FileFactsTest, missingOrDanglingPlistStopsAtExistence) {
    fs::create_symlink(dir() / "nowhere.plist", dir() / "dangling.plist");
    for (const auto& name : {"absent.plist", "dangling.plist"}) {
        SCOPED_TRACE(name);
        const auto facts = FileFacts(job(JobDirectory::globalDaemons, dir() / name));
        EXPECT_FALSE(facts.plistExists);
        EXPECT_FALSE(facts.plistIsReadable);
        EXPECT_FALSE(facts.plistIsLooselyPermissioned);
        EXPECT_FALSE(facts.plistIsWronglyOwned);
    }
}

TEST_F(FileFactsTest, executableIsCheckedThroughLinksAndOnlyWhenAbsolute) {
    const auto script = write("bin/tool", 0755);
    const auto plain = write("bin/plain", 0644);
    fs::create_symlink(script, dir() / "bin/tool-link");
    fs::create_symlink(dir() / "bin/missing", dir() / "bin/dangling");
    struct Case {
        std::string program;
        bool exists, executable;
    };
    const Case cases[] = {
        {"myscript", true, true},
        {script.string(), true, true},
        {(dir() / "bin/tool-link").string(), true, true},
        {plain.string(), true, false},
        {(dir() / "bin/missing").string(), false, false},
        {(dir() / "bin/dangling").string(), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const auto facts =
            FileFacts(job(JobDirectory::userAgents, dir() / "j.plist", {{"Program", PlistValue(c.program)}}));
        EXPECT_EQ(facts.executableExists, c.exists);
        EXPECT_EQ(facts.executableIsExecutable, c.executable);
    }
    // ProgramArguments' first element stands in for a missing Program.
    const auto facts = FileFacts(job(JobDirectory::userAgents, dir() / "j.plist",
                                             {{"ProgramArguments", PlistValue::array({plain.string(), "-v"})}}));
    EXPECT_TRUE(facts.executableExists);
    EXPECT_FALSE(facts.executableIsExecutable);
    EXPECT_FALSE(FileFacts(job(JobDirectory::userAgents, dir() / "j.plist")).executableExists);
}

// The stand-ins run programs on the host, the machine's own under its root: the root's copy first.
TEST_F(FileFactsTest, programsAreFoundWhereTheStandInsRunThem) {
    write("usr/local/bin/tool", 0755);
    write("bin/true", 0644);
    const auto facts = [&](PlistDictionary root) { return FileFacts(job(JobDirectory::userAgents, dir() / "j.plist", std::move(root))); };
    EXPECT_TRUE(facts({{"Program", "/usr/local/bin/tool"}}).executableExists);
    EXPECT_TRUE(facts({{"Program", "/bin/sh"}}).executableIsExecutable);
    EXPECT_FALSE(facts({{"Program", "/bin/true"}}).executableIsExecutable);
    const auto sh = facts({{"ProgramArguments", PlistValue::array({"sh", "-c", "exit 0"})}});
    ASSERT_TRUE(sh.executableOnPath);
    EXPECT_TRUE(sh.executableOnPath->starts_with("/usr/bin/sh") || sh.executableOnPath->starts_with("/bin/sh"));
    EXPECT_TRUE(sh.executableIsExecutable);
    EXPECT_EQ(Diagnostics::programFile("/no/such/tool"), (dir() / "no/such/tool").string());
}

TEST_F(FileFactsTest, aBareFirstArgumentIsFoundThroughTheJobsPath) {
    // The machine's own folders, under the root: what launchd's PATH search would see.
    write("usr/bin/sh", 0755);
    write("usr/bin/notes", 0644);
    write("bin/notes", 0755);
    write("sbin/plain", 0644);
    write("opt/tools/tool", 0755);
    fs::create_directories(dir() / "usr/bin/adir");
    write("usr/bin/backup.sh", 0755);
    const auto under = [&](const char* rest) { return (dir() / rest).string(); };
    struct Case {
        const char* name;
        PlistDictionary root;
        std::optional<std::string> found;
        bool exists, executable;
    };
    const Case cases[] = {
        {"sh on launchd's PATH", {{"ProgramArguments", PlistValue::array({"sh", "/Library/Scripts/x.sh"})}},
         under("usr/bin/sh"), true, true},
        {"the first executable one wins", {{"ProgramArguments", PlistValue::array({"notes"})}}, under("bin/notes"), true, true},
        {"only a file without execute bits", {{"ProgramArguments", PlistValue::array({"plain"})}}, under("sbin/plain"), true,
         false},
        {"the job's own PATH replaces launchd's",
         {{"ProgramArguments", PlistValue::array({"tool"})},
          {"EnvironmentVariables", PlistValue::dictionary({{"PATH", "relative:/opt/tools/:"}})}},
         under("opt/tools/tool"), true, true},
        {"not on the job's PATH",
         {{"ProgramArguments", PlistValue::array({"sh"})}, {"EnvironmentVariables", PlistValue::dictionary({{"PATH", "/opt"}})}},
         std::nullopt, true, true},
        {"nowhere", {{"ProgramArguments", PlistValue::array({"tool"})}}, std::nullopt, true, true},
        {"a folder is no program", {{"ProgramArguments", PlistValue::array({"adir"})}}, std::nullopt, true, true},
        // launchd searches only for ProgramArguments without Program, and only names without a slash.
        {"relative Program", {{"Program", "backup.sh"}}, std::nullopt, true, true},
        {"Program beside a bare argument", {{"Program", "sh"}, {"ProgramArguments", PlistValue::array({"sh"})}},
         std::nullopt, true, true},
        {"a relative path", {{"ProgramArguments", PlistValue::array({"bin/notes"})}}, std::nullopt, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto facts = FileFacts(job(JobDirectory::userAgents, dir() / "j.plist", c.root));
        EXPECT_EQ(facts.executableOnPath, c.found);
        EXPECT_EQ(facts.executableExists, c.exists);
        EXPECT_EQ(facts.executableIsExecutable, c.executable);
    }
}

TEST_F(FileFactsTest, missingLogFoldersAndWatchPaths) {
    fs::create_directories(dir() / "logs");
    write("afile", 0644);
    fs::create_directories(dir() / "watched");
    fs::create_directory_symlink(dir() / "logs", dir() / "logs-link");
    fs::create_symlink(dir() / "gone-for-good", dir() / "dangling");
    struct Case {
        const char* name;
        PlistDictionary root;
        std::vector<std::string> logFolders;
        std::vector<std::string> watchPaths;
    };
    const auto p = [&](const char* rest) { return (dir() / rest).string(); };
    const Case cases[] = {
        {"devices", {{"StandardOutPath", "/dev/null"}, {"StandardErrorPath", "/dev/console"}}, {}, {}},
        {"existing folder", {{"StandardOutPath", PlistValue(p("logs/out.log"))}}, {}, {}},
        {"missing folder", {{"StandardOutPath", PlistValue(p("nowhere/out.log"))}}, {p("nowhere")}, {}},
        {"folder is a file", {{"StandardErrorPath", PlistValue(p("afile/err.log"))}}, {p("afile")}, {}},
        {"folder is a link to a folder", {{"StandardOutPath", PlistValue(p("logs-link/out.log"))}}, {}, {}},
        {"folder is a dangling link", {{"StandardOutPath", PlistValue(p("dangling/out.log"))}}, {p("dangling")}, {}},
        {"both in one missing folder",
         {{"StandardOutPath", PlistValue(p("gone/out.log"))}, {"StandardErrorPath", PlistValue(p("gone/err.log"))}},
         {p("gone")},
         {}},
        {"out then error",
         {{"StandardErrorPath", PlistValue(p("b/err.log"))}, {"StandardOutPath", PlistValue(p("a/out.log"))}},
         {p("a"), p("b")},
         {}},
        {"relative output path", {{"StandardOutPath", "out.log"}, {"StandardErrorPath", "logs/err.log"}}, {}, {}},
        {"not a string", {{"StandardOutPath", 5}}, {}, {}},
        {"watch paths",
         {{"WatchPaths", PlistValue::array({p("watched"), p("missing-b"), 7, p("missing-a"), p("dangling")})}},
         {},
         {p("missing-b"), p("missing-a"), p("dangling")}},
        // The machine's paths, not the host's: a folder only the host has is missing, and one folder
        // written two ways is one folder.
        {"macOS paths",
         {{"StandardOutPath", "/logs/out.log"}, {"StandardErrorPath", "/tmp/err.log"}, {"WatchPaths", PlistValue::array({"/watched", "/etc/hostname"})}},
         {p("tmp")},
         {p("etc/hostname")}},
        {"one folder written twice",
         {{"StandardOutPath", "//Users/x/Logs/out.log"}, {"StandardErrorPath", "/Users/x/Logs/err.log"},
          {"WatchPaths", PlistValue::array({"//missing-c", "/missing-c/"})}},
         {p("Users/x/Logs")},
         {p("missing-c")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto facts = FileFacts(job(JobDirectory::userAgents, dir() / "j.plist", c.root));
        EXPECT_EQ(facts.missingLogDirectories, c.logFolders);
        EXPECT_EQ(facts.missingWatchPaths, c.watchPaths);
    }
}

}  // namespace
}  // namespace qw
