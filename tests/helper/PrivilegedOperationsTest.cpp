// The helper's operations, called in-process in a sandbox machine: what each does, and each refusal.
#include "helper/PrivilegedOperations.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "helper/JobFolder.h"
#include "support/SystemUser.h"
#include "tests/helper/HelperTestSupport.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using test::bytes;
using test::request;

struct PrivilegedOperationsTest : ::testing::Test {
    test::SandboxRoot root;
    std::string daemons = root.resolve("/Library/LaunchDaemons").string();

    HelperResponse perform(HelperRequest::Operation operation) {
        return PrivilegedOperations::perform(request(std::move(operation)));
    }
};

TEST_F(PrivilegedOperationsTest, writeReadRepairAndDeleteAJobFile) {
    const std::string path = daemons + "/com.example.job.plist";
    auto reply = perform(HelperRequest::Write{path, bytes(test::jobPlist("com.example.job"))});
    ASSERT_TRUE(reply.succeeded) << reply.message.value_or("");
    EXPECT_EQ(reply.message, "Saved com.example.job.plist.");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_uid, FileOwner::system().uid);

    // Standardised: the dot-dot form names the same file.
    reply = perform(HelperRequest::Read{daemons + "/../LaunchDaemons/com.example.job.plist"});
    ASSERT_TRUE(reply.succeeded);
    EXPECT_EQ(reply.contents, bytes(test::jobPlist("com.example.job")));

    ::chmod(path.c_str(), 0666);
    reply = perform(HelperRequest::RepairPermissions{path});
    EXPECT_EQ(reply.message, "Set com.example.job.plist to root:wheel, mode 644.");
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0644u);

    reply = perform(HelperRequest::Delete{path});
    EXPECT_EQ(reply.message, "Deleted com.example.job.plist.");
    EXPECT_FALSE(fs::exists(path));

    // Reads reach the /System folders, writes do not.
    root.writeFile("/System/Library/LaunchDaemons/com.apple.x.plist", test::jobPlist("com.apple.x"));
    EXPECT_TRUE(perform(HelperRequest::Read{root.resolve("/System/Library/LaunchDaemons/com.apple.x.plist")}).succeeded);
    EXPECT_FALSE(perform(HelperRequest::Delete{root.resolve("/System/Library/LaunchDaemons/com.apple.x.plist")}).succeeded);
}

TEST_F(PrivilegedOperationsTest, refusalsSayWhyAndChangeNothing) {
    const std::string job = daemons + "/com.example.job.plist";
    const std::string otherUser = root.resolve("/Users/someone-else/Library/LaunchAgents/a.b.plist").string();
    root.writeFile("/Users/someone-else/Library/LaunchAgents/a.b.plist", test::jobPlist("a.b"));
    const struct {
        HelperRequest::Operation operation;
        std::string message;
    } cases[] = {
        {HelperRequest::Write{job, bytes(test::jobPlist("com.example.other"))},
         "The job's Label is “com.example.other” but the file is named “com.example.job.plist”. They have to match."},
        {HelperRequest::Write{job, bytes("<plist><dict/></plist>")}, "“” is not a usable launchd label."},
        {HelperRequest::Write{job, bytes("<plist><array/></plist>")},
         "com.example.job.plist is a property list, but not a dictionary. A launchd job has to be a dictionary of "
         "keys at the top level."},
        {HelperRequest::Write{"/tmp/x.plist", bytes("not even a plist")},
         "/tmp/x.plist is not in /Library/LaunchAgents or /Library/LaunchDaemons. Quillwick will not write "
         "anywhere else as root."},
        {HelperRequest::Read{daemons + "/x.txt"}, daemons + "/x.txt is not a .plist file."},
        {HelperRequest::Read{otherUser},
         otherUser + " is not in /Library/LaunchAgents or /Library/LaunchDaemons. Quillwick will not write anywhere "
                     "else as root."},
        {HelperRequest::Read{daemons + "/missing.plist"}, "Could not read missing.plist: No such file or directory."},
        {HelperRequest::RepairPermissions{daemons + "/missing.plist"},
         "Could not read missing.plist: No such file or directory."},
        {HelperRequest::Launchctl{PrivilegedVerb::kickstart, "gui/abc", "a.b", std::nullopt},
         "“gui/abc” is not a launchd domain."},
        {HelperRequest::Launchctl{PrivilegedVerb::kickstart, "gui/501", "a.b", std::nullopt},
         "The helper acts only in the system domain, not in “gui/501”."},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", "a.b", std::nullopt},
         "bootstrap needs the job's plist path."},
        {HelperRequest::Launchctl{PrivilegedVerb::enable, "system", "a.b", job}, "enable does not take a path."},
        {HelperRequest::Launchctl{PrivilegedVerb::kill, "system", std::nullopt, std::nullopt},
         "“” is not a usable launchd label."},
        {HelperRequest::Launchctl{PrivilegedVerb::kill, "system", "../x", std::nullopt},
         "“../x” is not a usable launchd label."},
    };
    for (const auto& c : cases) {
        const HelperResponse reply = perform(c.operation);
        EXPECT_FALSE(reply.succeeded);
        EXPECT_EQ(reply.message, c.message);
    }
    EXPECT_FALSE(fs::exists(job));
    EXPECT_TRUE(fs::is_empty(daemons));
}

TEST_F(PrivilegedOperationsTest, otherVersionsAreRefusedBeforeAnythingElse) {
    for (int version : {0, 2}) {
        HelperRequest r = request(HelperRequest::Delete{daemons + "/x.plist"});
        r.version = version;
        const auto reply = PrivilegedOperations::perform(r);
        EXPECT_EQ(reply, HelperResponse::failure("This helper speaks request version 1 but was sent version " +
                                                 std::to_string(version) +
                                                 ". Quit Quillwick and open it again, or reinstall the helper in "
                                                 "Settings."));
    }
}

TEST_F(PrivilegedOperationsTest, launchctlRunsInTheSystemDomainAndPassesItsOutcomeOn) {
    const std::string path = daemons + "/com.example.sleeper.plist";
    root.writeFile("/Library/LaunchDaemons/com.example.sleeper.plist", test::jobPlist("com.example.sleeper"));
    auto reply = perform(HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, path});
    EXPECT_TRUE(reply.succeeded) << reply.message.value_or("");
    EXPECT_EQ(reply.exitStatus, 0);
    EXPECT_EQ(reply.message, std::nullopt);
    EXPECT_EQ(root.launchctl({"print", "system/com.example.sleeper"}).exitStatus, 0);

    // Loaded twice: launchctl's own refusal, with its status and text.
    reply = perform(HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, path});
    EXPECT_FALSE(reply.succeeded);
    EXPECT_EQ(reply.exitStatus, 5);
    EXPECT_EQ(reply.message, reply.standardError);
    EXPECT_EQ(reply.message, "Bootstrap failed: 5: Input/output error\n");

    reply = perform(HelperRequest::Launchctl{PrivilegedVerb::bootout, "system", "com.example.sleeper", std::nullopt});
    EXPECT_TRUE(reply.succeeded) << reply.message.value_or("");
}

bool isLoaded(const test::SandboxRoot& root, const std::string& label) {
    return root.launchctl({"print", "system/" + label}).exitStatus == 0;
}

HelperRequest::Operation launchctl(PrivilegedVerb verb, std::optional<std::string> label,
                                   std::optional<std::string> path = std::nullopt) {
    return HelperRequest::Launchctl{verb, "system", std::move(label), std::move(path)};
}

TEST_F(PrivilegedOperationsTest, aFileLaunchdWouldRefuseIsNeverHandedToIt) {
    const test::SystemUser plain("qwplain", false);
    ASSERT_TRUE(plain.exists());
    const auto place = [&](const std::string& label, unsigned mode, uid_t owner) {
        const fs::path file = root.writeFile("/Library/LaunchDaemons/" + label + ".plist", test::jobPlist(label), mode);
        EXPECT_EQ(::chown(file.c_str(), owner, 0), 0);
        return file.string();
    };
    const std::string refused[] = {place("com.example.userowned", 0644, plain.uid()),
                                   place("com.example.worldwritable", 0666, 0),
                                   place("com.example.groupwritable", 0664, 0)};
    for (const std::string& path : refused) {
        const std::string label = fs::path(path).stem().string();
        for (const auto& operation : {launchctl(PrivilegedVerb::bootstrap, std::nullopt, path),
                                      launchctl(PrivilegedVerb::enable, label),
                                      launchctl(PrivilegedVerb::kickstart, label)}) {
            const auto reply = perform(operation);
            EXPECT_FALSE(reply.succeeded) << label;
            EXPECT_THAT(reply.message.value_or(""), ::testing::HasSubstr(path + ": Path had bad ownership/permissions"));
        }
        EXPECT_FALSE(isLoaded(root, label)) << label;
    }

    // Once loaded, launchd does not read the file again: starting or enabling it is no way in.
    const std::string loaded = place("com.example.loaded", 0644, 0);
    ASSERT_TRUE(perform(launchctl(PrivilegedVerb::bootstrap, std::nullopt, loaded)).succeeded);
    ::chmod(loaded.c_str(), 0666);
    EXPECT_TRUE(perform(launchctl(PrivilegedVerb::enable, "com.example.loaded")).succeeded);
    EXPECT_TRUE(perform(launchctl(PrivilegedVerb::kickstart, "com.example.loaded")).succeeded);
}

TEST_F(PrivilegedOperationsTest, repairCutsOffWhoeverHeldTheFileOpen) {
    const test::SystemUser plain("qwplain", false);
    ASSERT_TRUE(plain.exists());
    fs::permissions(root.path(), fs::perms(0755));
    const std::string label = "com.example.repaired";
    const fs::path path = root.writeFile("/Library/LaunchDaemons/" + label + ".plist", test::jobPlist(label));
    ASSERT_EQ(::chown(path.c_str(), plain.uid(), plain.gid()), 0);

    // The former owner opens the file before the repair and writes through that descriptor after it.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    const pid_t writer = ::fork();
    if (writer == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(plain.gid()) != 0 || ::setuid(plain.uid()) != 0) ::_exit(1);
        const int fd = ::open(path.c_str(), O_WRONLY);
        (void)!::write(ready[1], fd >= 0 ? "y" : "n", 1);
        char byte = 0;
        (void)!::read(go[0], &byte, 1);
        std::string rewritten = test::jobPlist(label);
        rewritten.replace(rewritten.find("/bin/true"), 9, "/bin/evil");
        ::_exit(::pwrite(fd, rewritten.data(), rewritten.size(), 0) == static_cast<ssize_t>(rewritten.size()) ? 0 : 2);
    }
    char opened = 0;
    ASSERT_EQ(::read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, 'y');
    const auto reply = perform(HelperRequest::RepairPermissions{path.string()});
    (void)!::write(go[1], "g", 1);
    int status = 0;
    ::waitpid(writer, &status, 0);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
    EXPECT_TRUE(reply.succeeded) << reply.message.value_or("");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_EQ(test::readFile(path), test::jobPlist(label));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, FileOwner::system().uid);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    ASSERT_TRUE(perform(launchctl(PrivilegedVerb::bootstrap, std::nullopt, path.string())).succeeded);
    EXPECT_THAT(root.launchctl({"print", "system/" + label}).standardOutput, ::testing::HasSubstr("/bin/true"));
}

TEST_F(PrivilegedOperationsTest, jobsOfMacOSAreNeverChanged) {
    const std::string apple = daemons + "/com.apple.example.plist";
    root.writeFile("/Library/LaunchDaemons/com.apple.example.plist", test::jobPlist("com.apple.example"));
    // Named as anyone's job, declaring one of macOS's.
    const std::string disguised = daemons + "/com.example.disguised.plist";
    root.writeFile("/Library/LaunchDaemons/com.example.disguised.plist", test::jobPlist("com.apple.disguised"));
    const auto before = test::readFile(apple);
    const auto disguisedBefore = test::readFile(disguised);

    const std::string refusal = " is part of macOS. Quillwick shows these jobs but never changes them.";
    const struct {
        HelperRequest::Operation operation;
        std::string label;
    } cases[] = {
        {HelperRequest::Write{apple, bytes(test::jobPlist("com.apple.example"))}, "com.apple.example"},
        {HelperRequest::Delete{apple}, "com.apple.example"},
        {HelperRequest::RepairPermissions{apple}, "com.apple.example"},
        {launchctl(PrivilegedVerb::bootstrap, std::nullopt, apple), "com.apple.example"},
        {launchctl(PrivilegedVerb::bootstrap, std::nullopt, disguised), "com.apple.disguised"},
        {HelperRequest::Write{disguised, bytes(test::jobPlist("com.example.disguised"))}, "com.apple.disguised"},
        {HelperRequest::Delete{disguised}, "com.apple.disguised"},
        {HelperRequest::RepairPermissions{disguised}, "com.apple.disguised"},
        {launchctl(PrivilegedVerb::bootout, "com.apple.example"), "com.apple.example"},
        {launchctl(PrivilegedVerb::enable, "com.apple.example"), "com.apple.example"},
        {launchctl(PrivilegedVerb::disable, "com.apple.example"), "com.apple.example"},
        {launchctl(PrivilegedVerb::kickstart, "com.apple.example"), "com.apple.example"},
        {launchctl(PrivilegedVerb::kill, "application.com.apple.Safari.1234"), "application.com.apple.Safari.1234"},
    };
    for (const auto& c : cases) {
        const auto reply = perform(c.operation);
        EXPECT_FALSE(reply.succeeded) << c.label;
        EXPECT_EQ(reply.message, "“" + c.label + "”" + refusal);
    }
    EXPECT_EQ(test::readFile(apple), before);
    EXPECT_EQ(test::readFile(disguised), disguisedBefore);
    EXPECT_FALSE(isLoaded(root, "com.apple.example"));
    EXPECT_FALSE(isLoaded(root, "com.apple.disguised"));
    EXPECT_TRUE(perform(HelperRequest::Read{apple}).succeeded);
}

TEST(HelperLogText, controlAndInvisibleCharactersAreEscaped) {
    EXPECT_EQ(PrivilegedOperations::escapedForLog("a\nb\x1b[31m\\"), "a\\x0ab\\x1b[31m\\\\");
    EXPECT_EQ(PrivilegedOperations::escapedForLog("\u0080\u009f\u00a0 \u2027\u202f\u2065\u206a é"),
              "\\u0080\\u009f\u00a0 \u2027\u202f\u2065\u206a é");
    EXPECT_EQ(PrivilegedOperations::escapedForLog("\xC2"), "\xC2");  // cut short: left for the logger to repair
}

}  // namespace
}  // namespace qw
