#include "helperkit/JobLocation.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include "helperkit/SystemPaths.h"
#include "support/SandboxRoot.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using Error = JobLocation::ValidationError;
using Kind = Error::Kind;

class JobLocationTest : public testing::Test {
protected:
    JobLocationTest() : machine_(SystemPaths::forRoot(folder_.path())) {
        for (const char* sub : {"Library/LaunchAgents", "Library/LaunchDaemons", "System/Library/LaunchDaemons"})
            fs::create_directories(root() / sub);
        fs::create_directories(SystemPaths::current().userLaunchAgents());
    }
    fs::path root() const { return folder_.path(); }
    std::string at(std::string_view macPath) const { return SystemPaths::current().resolve(macPath).string(); }

    static Error errorOf(const std::string& path) {
        try {
            JobLocation::validatingPath(path);
        } catch (const Error& e) {
            return e;
        }
        ADD_FAILURE() << path << " validated";
        return Error::notAPlist("");
    }

private:
    test::TemporaryFolder folder_;
    SystemPaths::Override machine_;
};

TEST_F(JobLocationTest, pathsInTheTwoLibraryFoldersValidate) {
    struct Case {
        std::string path;
        JobDirectory directory;
        std::string url;
    };
    const Case cases[] = {
        {at("/Library/LaunchDaemons/com.example.job.plist"), JobDirectory::globalDaemons,
         at("/Library/LaunchDaemons/com.example.job.plist")},
        {at("/Library/LaunchDaemons/../LaunchDaemons/com.example.job.plist"), JobDirectory::globalDaemons,
         at("/Library/LaunchDaemons/com.example.job.plist")},
        {at("/Library/LaunchAgents/./x.plist"), JobDirectory::globalAgents, at("/Library/LaunchAgents/x.plist")},
        {at("/Library/LaunchAgents/not-yet-there.plist"), JobDirectory::globalAgents,
         at("/Library/LaunchAgents/not-yet-there.plist")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto location = JobLocation::validatingPath(c.path);
        EXPECT_EQ(location.directory, c.directory);
        EXPECT_EQ(location.url, fs::path(c.url));
    }
}

TEST_F(JobLocationTest, refusedPathsNameThePathAsGiven) {
    struct Case {
        std::string path;
        Kind kind;
        std::string subject;
    };
    const Case cases[] = {
        {at("/Library/LaunchDaemons/com.example.job.PLIST"), Kind::notAPlist, ""},
        {at("/Library/LaunchDaemons/com.example.job"), Kind::notAPlist, ""},
        {at("/Library/LaunchDaemons/com.example.job.plist/"), Kind::notAPlist, ""},
        {at("/Library/LaunchDaemons/sub/com.example.job.plist"), Kind::outsidePermittedDirectories, ""},
        {at("/Library/LaunchDaemons/../com.example.job.plist"), Kind::outsidePermittedDirectories, ""},
        {at("/System/Library/LaunchDaemons/com.example.job.plist"), Kind::outsidePermittedDirectories, ""},
        {(SystemPaths::current().userLaunchAgents() / "com.example.job.plist").string(),
         Kind::outsidePermittedDirectories, ""},
        {"/Library/LaunchDaemons/com.example.job.plist", Kind::outsidePermittedDirectories, ""},
        {"com.example.job.plist", Kind::outsidePermittedDirectories, ""},
        {"Library/LaunchDaemons/com.example.job.plist", Kind::outsidePermittedDirectories, ""},
        {at("/Library/LaunchAgents/.hidden.plist"), Kind::invalidLabel, ".hidden"},
        {at("/Library/LaunchAgents/with space.plist"), Kind::invalidLabel, "with space"},
        {at("/Library/LaunchAgents/-x.plist"), Kind::invalidLabel, "-x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Error e = errorOf(c.path);
        EXPECT_EQ(e.kind(), c.kind);
        EXPECT_EQ(e.subject(), c.subject.empty() ? c.path : c.subject);
    }
}

TEST_F(JobLocationTest, embeddedNulCannotSmuggleAnotherPath) {
    const std::string path = at("/Library/LaunchDaemons/x.plist") + std::string(1, '\0') + "/../y.plist";
    EXPECT_EQ(errorOf(path).kind(), Kind::outsidePermittedDirectories);
}

TEST_F(JobLocationTest, symlinkedParentValidatesIntoTheRealFolder) {
    fs::create_directories(root() / "elsewhere");
    fs::create_directory_symlink(root() / "Library/LaunchAgents", root() / "elsewhere/agents");
    const auto location = JobLocation::validatingPath((root() / "elsewhere/agents/com.example.job.plist").string());
    EXPECT_EQ(location.directory, JobDirectory::globalAgents);
    EXPECT_EQ(location.url, root() / "Library/LaunchAgents/com.example.job.plist");

    // A link out of a permitted folder does not count as the folder.
    fs::create_directory_symlink(root() / "elsewhere", root() / "Library/LaunchDaemons/out");
    EXPECT_EQ(errorOf(at("/Library/LaunchDaemons/out/x.plist")).kind(), Kind::outsidePermittedDirectories);
}

TEST_F(JobLocationTest, permittedFolderThatIsItselfALinkStillMatches) {
    fs::remove(root() / "Library/LaunchDaemons");
    fs::create_directories(root() / "real/daemons");
    fs::create_directory_symlink(root() / "real/daemons", root() / "Library/LaunchDaemons");
    const auto location = JobLocation::validatingPath(at("/Library/LaunchDaemons/a.plist"));
    EXPECT_EQ(location.directory, JobDirectory::globalDaemons);
    EXPECT_EQ(location.url, root() / "real/daemons/a.plist");
}

TEST(JobLocation, errorTextsUseTypographicQuotes) {
    EXPECT_STREQ(Error::notAPlist("/x/y.txt").what(), "/x/y.txt is not a .plist file.");
    EXPECT_STREQ(Error::outsidePermittedDirectories("/tmp/a.plist").what(),
                 "/tmp/a.plist is not in /Library/LaunchAgents or /Library/LaunchDaemons. Quillwick will not "
                 "write anywhere else as root.");
    EXPECT_STREQ(Error::invalidLabel(".hidden").what(), "\u201C.hidden\u201D is not a usable launchd label.");
    EXPECT_STREQ(Error::labelDoesNotMatchFilename("a.b", "c.d").what(),
                 "The job's Label is \u201Ca.b\u201D but the file is named \u201Cc.d.plist\u201D. They have to match.");
    EXPECT_EQ(Error::labelDoesNotMatchFilename("a", "b"), Error::labelDoesNotMatchFilename("a", "b"));
    EXPECT_FALSE(Error::labelDoesNotMatchFilename("a", "b") == Error::labelDoesNotMatchFilename("a", "c"));
}

TEST(JobLocation, forLabelAppendsThePlistNameToTheFolder) {
    test::TemporaryFolder folder;
    SystemPaths::Override machine(SystemPaths::forRoot(folder.path()));
    const auto location = JobLocation::forLabel(JobDirectory::globalDaemons, "com.example.job");
    EXPECT_EQ(location.url, folder.path() / "Library/LaunchDaemons/com.example.job.plist");
    std::unordered_set<JobLocation> set{location, location,
                                        JobLocation(JobDirectory::globalAgents, location.url)};
    EXPECT_EQ(set.size(), 2u);
}

}  // namespace
}  // namespace qw
