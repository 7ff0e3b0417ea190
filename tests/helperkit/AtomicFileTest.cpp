#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "support/SandboxRoot.h"
#include "helperkit/AtomicFile.h"

namespace qw {
namespace {

namespace fs = std::filesystem;

std::size_t entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(AtomicFile, writesAndReplacesLeavingNothingAside) {
    test::TemporaryFolder folder;
    const fs::path target = folder.path() / "state.json";
    writeFileAtomically(target, "first");
    writeFileAtomically(target, std::string("second\0with nul", 15));
    EXPECT_EQ(test::readFile(target), std::string("second\0with nul", 15));
    writeFileAtomically(target, "");
    EXPECT_EQ(test::readFile(target), "");
    EXPECT_EQ(entries(folder.path()), 1u);
}

// The file aside must fit wherever the file itself does.
TEST(AtomicFile, everyNameThatFitsIsWrittenAndReplaced) {
    test::TemporaryFolder folder;
    for (const std::size_t length : {NAME_MAX - 22, NAME_MAX - 21, NAME_MAX}) {
        const fs::path target = folder.path() / (std::string(length - 6, 'j') + ".plist");
        writeFileAtomically(target, "first");
        writeFileAtomically(target, "second");
        EXPECT_EQ(test::readFile(target), "second") << length;
        fs::remove(target);
    }
    EXPECT_THROW(writeFileAtomically(folder.path() / std::string(NAME_MAX + 1, 'j'), "x"), fs::filesystem_error);
    EXPECT_EQ(entries(folder.path()), 0u);
}

TEST(AtomicFile, modeIsTakenLessTheUmask) {
    test::TemporaryFolder folder;
    const mode_t old = ::umask(022);
    writeFileAtomically(folder.path() / "a", "x", 0666);
    writeFileAtomically(folder.path() / "b", "x", 0600);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((folder.path() / "a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_EQ(::stat((folder.path() / "b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(AtomicFile, aLinkInPlaceIsReplacedNotFollowed) {
    test::TemporaryFolder folder;
    const fs::path victim = folder.path() / "victim";
    writeFileAtomically(victim, "keep");
    fs::create_symlink(victim, folder.path() / "job.plist");
    writeFileAtomically(folder.path() / "job.plist", "new");
    EXPECT_EQ(test::readFile(victim), "keep");
    EXPECT_FALSE(fs::is_symlink(folder.path() / "job.plist"));
    EXPECT_EQ(test::readFile(folder.path() / "job.plist"), "new");
}

TEST(AtomicFile, failuresThrowAndLeaveTheOldFile) {
    test::TemporaryFolder folder;
    EXPECT_THROW(writeFileAtomically(folder.path() / "missing" / "x", "x"), fs::filesystem_error);
    const fs::path target = folder.path() / "taken";
    fs::create_directory(target);
    fs::create_directory(target / "inside");  // a non-empty folder cannot be renamed over
    EXPECT_THROW(writeFileAtomically(target, "x"), fs::filesystem_error);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(entries(folder.path()), 1u);
    if (::geteuid() != 0) {
        const fs::path locked = folder.path() / "locked";
        fs::create_directory(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_THROW(writeFileAtomically(locked / "x", "x"), fs::filesystem_error);
        fs::permissions(locked, fs::perms::owner_all);
    }
}

}  // namespace
}  // namespace qw
