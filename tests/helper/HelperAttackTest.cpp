// Hostile requests against the running helper daemon (started by the stand-in launchd from the bundle's
// list): each is refused, nothing outside the two writable folders changes, nothing is left behind, and
// the helper goes on serving.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

#include "tests/helper/HelperTestSupport.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Every file under a folder with its kind, mode and contents; the stand-in launchd's own state and log,
// and the helper's socket, are not the helper's doing.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).string();
        if (relative.starts_with("private/var") || relative.starts_with("var/run")) {
            if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
            continue;
        }
        struct stat info {};
        ::lstat(it->path().c_str(), &info);
        std::string facts = std::to_string(info.st_mode) + ":" + std::to_string(info.st_uid);
        if (S_ISREG(info.st_mode)) facts += ":" + test::readFile(it->path());
        if (S_ISLNK(info.st_mode)) facts += ":" + fs::read_symlink(it->path()).string();
        files[relative] = facts;
    }
    return files;
}

struct RunningHelper : ::testing::Test {
    test::SandboxRoot root;
    test::TemporaryFolder outside;
    fs::path socket = SystemPaths::current().helperSocket();
    fs::path plist = test::builtBundle() / "Contents/Library/LaunchDaemons/com.tarnmoor.quillwick.helper.plist";

    void startHelper(const std::string& admittedPeer) {
        ::setenv("QUILLWICK_HELPER_PEER", admittedPeer.c_str(), 1);
        ASSERT_EQ(root.launchctl({"bootstrap", "system", plist.string()}).exitStatus, 0);
        ::unsetenv("QUILLWICK_HELPER_PEER");
        for (int i = 0; i < 500 && !fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(fs::exists(socket));
    }
    void stopHelper() { root.launchctl({"bootout", "system/com.tarnmoor.quillwick.helper"}); }
    bool stillServing() {
        test::SocketClient client(socket);
        const auto reply = client.ask(HelperRequest{});
        return reply && reply->helperVersion == "1.0.1";
    }
};

TEST_F(RunningHelper, refusesEveryAttackWithNothingChanged) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    const std::string daemons = root.resolve("/Library/LaunchDaemons").string();
    const fs::path target = outside.path() / "target.plist";
    {
        std::ofstream(target) << test::jobPlist("target");
    }
    fs::permissions(target, fs::perms(0600));
    fs::create_symlink(target, daemons + "/com.evil.link.plist");
    fs::create_directory_symlink(outside.path(), daemons + "/sub");
    ::mkfifo((daemons + "/com.evil.fifo.plist").c_str(), 0644);
    fs::create_directory(daemons + "/com.evil.dir.plist");
    const auto before = snapshot(root.path());
    const auto outsideBefore = snapshot(outside.path());

    const auto write = [](std::string path, std::string label) {
        return HelperRequest::Operation(HelperRequest::Write{std::move(path), test::bytes(test::jobPlist(label))});
    };
    const struct {
        HelperRequest::Operation operation;
        std::string refusal;
    } attacks[] = {
        {write(daemons + "/com.evil.link.plist", "com.evil.link"), "is a symbolic link"},
        {HelperRequest::Read{daemons + "/com.evil.link.plist"}, "is a symbolic link"},
        {HelperRequest::Delete{daemons + "/com.evil.link.plist"}, "is a symbolic link"},
        {HelperRequest::RepairPermissions{daemons + "/com.evil.link.plist"}, "is a symbolic link"},
        {write(daemons + "/sub/target.plist", "target"), "is not in /Library/LaunchAgents"},
        {HelperRequest::Read{daemons + "/sub/target.plist"}, "is not in /Library/LaunchAgents"},
        {write(daemons + "/../../../" + outside.path().filename().string() + "/x.plist", "x"), "is not in"},
        {write(outside.path().string() + "/../" + root.path().filename().string() + "/x.plist", "x"), "is not in"},
        {write("Library/LaunchDaemons/x.plist", "x"), "is not in"},
        {HelperRequest::Read{"Library/LaunchDaemons/x.plist"}, "is not in"},
        {HelperRequest::Read{daemons + "/com.evil.fifo.plist"}, "is not a regular file"},
        {write(daemons + "/com.evil.fifo.plist", "com.evil.fifo"), "is not a regular file"},
        {HelperRequest::Delete{daemons + "/com.evil.fifo.plist"}, "is not a regular file"},
        {HelperRequest::RepairPermissions{daemons + "/com.evil.fifo.plist"}, "is not a regular file"},
        {HelperRequest::Read{daemons + "/com.evil.dir.plist"}, "is not a regular file"},
        {write(daemons + "/com.evil.dir.plist", "com.evil.dir"), "is not a regular file"},
        {HelperRequest::Delete{daemons + "/com.evil.dir.plist"}, "is not a regular file"},
        {write(daemons + std::string("/x\0/../../x.plist", 17), "x"), "is not in"},
        {HelperRequest::Launchctl{PrivilegedVerb::kickstart, "gui/501", "com.apple.Finder", std::nullopt},
         "only in the system domain"},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "user/0", std::nullopt, daemons + "/com.evil.link.plist"},
         "only in the system domain"},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, outside.path() / "target.plist"},
         "is not in"},
    };
    test::SocketClient client(socket);
    for (const auto& attack : attacks) {
        const auto reply = client.ask(test::request(attack.operation, "attack"));
        ASSERT_TRUE(reply);
        EXPECT_FALSE(reply->succeeded);
        EXPECT_THAT(reply->message.value_or(""), HasSubstr(attack.refusal));
    }

    // An oversized frame is answered once and ends its connection; a truncated one just ends it.
    {
        test::SocketClient oversized(socket);
        oversized.sendRaw(std::string("\x01\x00\x00\x01{", 5));
        EXPECT_EQ(oversized.receive(), HelperResponse::failure("The helper could not read that request."));
        EXPECT_EQ(oversized.receive(), std::nullopt);
    }
    {
        test::SocketClient truncated(socket);
        truncated.sendRaw(std::string("\x00\x00\x00\x40{\"version\":1", 16));
        truncated.closeWriting();
        EXPECT_EQ(truncated.receive(), std::nullopt);
    }

    EXPECT_TRUE(stillServing());
    EXPECT_EQ(snapshot(root.path()), before);
    EXPECT_EQ(snapshot(outside.path()), outsideBefore);
}

TEST_F(RunningHelper, aPeerThatIsNotTheApplicationIsServedNothing) {
    startHelper((test::builtBundle() / "Contents/MacOS/Quillwick").string());
    const auto before = snapshot(root.path());
    test::SocketClient client(socket);
    const std::string path = root.resolve("/Library/LaunchDaemons/com.evil.plist").string();
    EXPECT_EQ(client.ask(test::request(HelperRequest::Write{path, test::bytes(test::jobPlist("com.evil"))})),
              std::nullopt);
    EXPECT_EQ(snapshot(root.path()), before);
    stopHelper();
}

}  // namespace
}  // namespace qw
