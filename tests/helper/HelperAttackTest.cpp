// Hostile requests and hostile peers against the running helper daemon (started by the stand-in launchd
// from the bundle's list): each is refused, nothing outside the two writable folders changes, nothing is
// left behind, and the helper goes on serving.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#include <fmt/format.h>

#include "helper/HelperServer.h"
#include "support/Eventually.h"
#include "support/LinkedBundle.h"
#include "support/SystemUser.h"
#include "tests/helper/HelperTestSupport.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// Every file under a folder with its kind, mode and contents; the stand-in launchd's own state and log,
// the helper's socket and its log are not the helper's doing.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).string();
        if (relative.starts_with("private/var") || relative.starts_with("var/run") || relative == "helper.log") {
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

// A uid and gid with no passwd entry: a plain user of no group.
constexpr uid_t strangerId = 4242;

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

using test::SystemUser;

const std::string genuineApplication = (test::builtBundle() / "Contents/MacOS/Quillwick").string();

// Becomes `user` (its uid as gid too); false when it cannot.
bool become(uid_t user) { return ::setgroups(0, nullptr) == 0 && ::setgid(user) == 0 && ::setuid(user) == 0; }

// One run of a client (the stand-in client unless said): its arguments, what it adds to its environment,
// whom it runs as, whether a tracer sits on it while it sends, what is done once it printed its first
// line, and whether only its next line is wanted (then it is ended).
struct PeerRun {
    std::vector<std::string> arguments = {};
    std::vector<std::string> environment = {};
    std::optional<uid_t> user = std::nullopt;
    bool traced = false;
    std::string program = HELPER_TEST_PEER;
    std::function<void(pid_t)> whenReady = nullptr;
    bool oneLine = false;
};

// Runs the client to its end and gives its standard output.
std::string run(const PeerRun& peer) {
    std::vector<std::string> argumentTexts{peer.program};
    argumentTexts.insert(argumentTexts.end(), peer.arguments.begin(), peer.arguments.end());
    if (peer.traced) argumentTexts.push_back("--pause");
    std::vector<std::string> environmentTexts(peer.environment);
    for (char** entry = environ; *entry; ++entry) environmentTexts.emplace_back(*entry);
    std::vector<char*> argv, envp;
    for (auto& text : argumentTexts) argv.push_back(text.data());
    for (auto& text : environmentTexts) envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return "no pipes";
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        if (peer.user && !become(*peer.user)) ::_exit(126);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    std::string out;
    char chunk[4096];
    const auto readSome = [&] {
        const ssize_t n = ::read(output[0], chunk, sizeof chunk);
        if (n > 0) out.append(chunk, static_cast<std::size_t>(n));
        return n > 0;
    };
    if (peer.traced || peer.whenReady) {
        while (out.find('\n') == std::string::npos && readSome()) {
        }
        out.clear();
        if (peer.traced) ::ptrace(PTRACE_SEIZE, child, nullptr, nullptr);
        if (peer.whenReady) peer.whenReady(child);
    }
    // A peer that never reads its input may be gone already: that must not end the test by SIGPIPE.
    const auto pipeSignal = ::signal(SIGPIPE, SIG_IGN);
    (void)!::write(input[1], "go\n", 3);
    ::signal(SIGPIPE, pipeSignal);
    ::close(input[1]);
    while ((!peer.oneLine || out.find('\n') == std::string::npos) && readSome()) {
    }
    if (peer.oneLine) {
        out.resize(std::min(out.find('\n'), out.size()));
        ::kill(child, SIGKILL);
    }
    ::close(output[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return out;
}

struct RunningHelper : ::testing::Test {
    test::SandboxRoot root;
    test::TemporaryFolder outside;
    fs::path socket = SystemPaths::current().helperSocket();
    fs::path plist = test::builtBundle() / "Contents/Library/LaunchDaemons/com.tarnmoor.quillwick.helper.plist";
    fs::path logFile = root.path() / "helper.log";
    std::string daemons = root.resolve("/Library/LaunchDaemons").string();

    void SetUp() override { ::setenv("QUILLWICK_LOG_FILE", logFile.c_str(), 1); }
    void TearDown() override { ::unsetenv("QUILLWICK_LOG_FILE"); }

    // From the built bundle's list unless another is given.
    void startHelper(const std::string& admittedPeer, const fs::path& list = {}) {
        ::setenv("QUILLWICK_HELPER_PEER", admittedPeer.c_str(), 1);
        ASSERT_EQ(root.launchctl({"bootstrap", "system", (list.empty() ? plist : list).string()}).exitStatus, 0);
        ::unsetenv("QUILLWICK_HELPER_PEER");
        ASSERT_TRUE(test::eventually([&] { return fs::exists(socket); }));
    }
    void stopHelper() { root.launchctl({"bootout", "system/com.tarnmoor.quillwick.helper"}); }
    bool stillServing() {
        test::SocketClient client(socket);
        const auto reply = client.ask(HelperRequest{});
        return reply && reply->helperVersion == "1.0.1";
    }
    std::string writing(const std::string& label) const {
        return test::request(HelperRequest::Write{daemons + "/" + label + ".plist", test::bytes(test::jobPlist(label))})
            .jsonData();
    }
    // A home folder of the user's own, reachable from outside.
    fs::path homeOf(const SystemUser& user) const {
        fs::permissions(root.path(), fs::perms(0755));
        fs::permissions(outside.path(), fs::perms(0755));
        const fs::path home = outside.path() / fmt::format("home-{}", user.uid());
        fs::create_directories(home / "runtime");
        fs::permissions(home / "runtime", fs::perms(0700));
        for (const fs::path& folder : {home, home / "runtime"}) (void)!::chown(folder.c_str(), user.uid(), user.uid());
        return home;
    }
    // What the application needs to run as the user without a display.
    std::vector<std::string> applicationEnvironment(const SystemUser& user) const {
        const fs::path home = homeOf(user);
        return {"QT_QPA_PLATFORM=offscreen", "HOME=" + home.string(), "XDG_RUNTIME_DIR=" + (home / "runtime").string()};
    }
    pid_t helperPid() const {
        const int fd = HelperSocket::connectTo(socket);
        const pid_t helper = HelperSocket::peerCredentials(fd).pid;
        ::close(fd);
        return helper;
    }
    // The helper's peak resident memory, in MiB.
    std::size_t helperPeakMemory() const {
        const std::string status = test::readFile(fmt::format("/proc/{}/status", helperPid()));
        const auto at = status.find("VmHWM:");
        return at == std::string::npos ? 0 : std::stoul(status.substr(at + 6)) / 1024;
    }
};

// Unprivileged user namespaces are a setting of the machine; the attacks that need them cannot run
// without them.
bool userNamespacesAllowed(uid_t user) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(become(user) && ::unshare(CLONE_NEWUSER) == 0 ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The running application of a user whose window system is up (its platform plugin loaded).
std::optional<pid_t> startedApplicationOf(uid_t user) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat info {};
        std::error_code ec;
        if (::stat(entry.path().c_str(), &info) != 0 || info.st_uid != user ||
            fs::read_symlink(entry.path() / "exe", ec).string() != genuineApplication)
            continue;
        if (test::readFile(entry.path() / "maps").find("libqoffscreen") != std::string::npos) return std::stoi(name);
    }
    return std::nullopt;
}

TEST_F(RunningHelper, refusesEveryAttackWithNothingChanged) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    const fs::path target = outside.path() / "target.plist";
    {
        std::ofstream(target) << test::jobPlist("target");
    }
    fs::permissions(target, fs::perms(0600));
    fs::create_symlink(target, daemons + "/com.evil.link.plist");
    // Another user's private file, linked into the daemon folder under a job's name.
    const fs::path secret = outside.path() / "secret.plist";
    {
        std::ofstream(secret) << test::jobPlist("com.evil.hardlink");
    }
    ASSERT_EQ(::chown(secret.c_str(), strangerId, strangerId), 0);
    fs::permissions(secret, fs::perms(0600));
    fs::create_hard_link(secret, daemons + "/com.evil.hardlink.plist");
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
        {HelperRequest::Read{daemons + "/com.evil.hardlink.plist"}, "has 2 hard links"},
        {HelperRequest::RepairPermissions{daemons + "/com.evil.hardlink.plist"}, "has 2 hard links"},
        {HelperRequest::Delete{daemons + "/com.evil.hardlink.plist"}, "has 2 hard links"},
        {write(daemons + "/com.evil.hardlink.plist", "com.evil.hardlink"), "has 2 hard links"},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, daemons + "/com.evil.link.plist"},
         "is a symbolic link"},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt,
                                  daemons + "/com.evil.hardlink.plist"},
         "has 2 hard links"},
        {HelperRequest::Launchctl{PrivilegedVerb::bootstrap, "system", std::nullopt, daemons + "/com.evil.fifo.plist"},
         "is not a regular file"},
        // Whole, the NUL shown as paths show it.
        {HelperRequest::Launchctl{PrivilegedVerb::kill, "system", std::string("a\0b", 3), std::nullopt},
         "“a\\x00b” is not a usable launchd label."},
        {HelperRequest::Launchctl{PrivilegedVerb::kill, std::string("sys\0tem", 7), "a", std::nullopt},
         "“sys\\x00tem” is not a launchd domain."},
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
        oversized.sendRaw(std::string("\x02\x00\x00\x00{", 5));
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
    EXPECT_NE(root.launchctl({"print", "system/target"}).exitStatus, 0);  // the linked plist was never loaded
    EXPECT_NE(root.launchctl({"print", "system/com.evil.hardlink"}).exitStatus, 0);
}

TEST_F(RunningHelper, whatItSaysAndLogsHoldsNoRequestBytesAndNoInvisibleCharacters) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    test::SocketClient client(socket);
    for (const std::string request : {
             R"({"version":1,"operation":{"launchctl":{"verb":"TOP-SECRET-TOKEN","domain":"system"}},"reason":"x"})",
             R"({"version":1e999,"operation":{"version":{}},"reason":"x"})",
             R"({"version":123456789012345678901234567890,"operation":{"version":{}},"reason":"x"})",
         }) {
        client.send(request);
        EXPECT_EQ(client.receive(), HelperResponse::failure("The helper could not read that request."));
    }
    // Line and paragraph separators, a C1 control and every bidirectional override and isolate.
    const std::string invisible = "a\u2028b\u2029c\u0085d\u202Ae\u202Bf\u202Cg\u202Dh\u202Ei\u2066j\u2067k\u2068l\u2069m";
    EXPECT_TRUE(client.ask(test::request(HelperRequest::Read{daemons + "/missing.plist"}, "look " + invisible)));
    EXPECT_TRUE(stillServing());

    const std::string log = test::readFile(logFile);
    EXPECT_THAT(log, Not(HasSubstr("TOP-SECRET-TOKEN")));
    EXPECT_THAT(log, Not(HasSubstr("1e999")));
    EXPECT_THAT(log, Not(HasSubstr("1234567890123")));
    EXPECT_THAT(log, HasSubstr("undecodable request: "));
    EXPECT_THAT(log, HasSubstr("look a\\u2028b\\u2029c\\u0085d\\u202ae\\u202bf\\u202cg\\u202dh\\u202ei\\u2066j"
                               "\\u2067k\\u2068l\\u2069m (sent by pid "));
    for (const char* raw : {"\u2028", "\u2029", "\u0085", "\u202A", "\u202E", "\u2066", "\u2069"})
        EXPECT_THAT(log, Not(HasSubstr(raw)));
}

TEST_F(RunningHelper, servesOnlyTheApplicationProcessItselfRequestByRequest) {
    startHelper(HELPER_TEST_PEER);
    fs::permissions(root.path(), fs::perms(0755));  // the stranger must reach the socket to be refused there
    const fs::path foreignCopy = outside.path() / "helper_test_peer";
    fs::copy_file(HELPER_TEST_PEER, foreignCopy);
    const std::string socketPath = socket.string();

    // The application itself, untouched, is served.
    const std::string clean = run({.arguments = {socketPath, writing("com.example.clean")}});
    EXPECT_EQ(HelperResponse::fromJson(clean).message, "Saved com.example.clean.plist.");
    // Logged with who sent it, which the client's own reason could not tell.
    EXPECT_THAT(test::readFile(logFile), HasSubstr("com.example.clean.plist — test (sent by pid "));
    EXPECT_THAT(test::readFile(logFile), HasSubstr(", uid 0, " HELPER_TEST_PEER ")\n"));
    // Started without standard input, the connection it makes is still one it is seen to hold.
    const std::string noInput = run({.arguments = {"-c", "exec \"$0\" \"$@\" <&-", HELPER_TEST_PEER, socketPath,
                                                   writing("com.example.noinput")},
                                     .program = "/bin/sh"});
    EXPECT_EQ(HelperResponse::fromJson(noInput).message, "Saved com.example.noinput.plist.");
    const auto before = snapshot(root.path());

    const struct {
        PeerRun peer;
        std::string logged;
    } peers[] = {
        {{.arguments = {socketPath, writing("com.evil.preload")},
          .environment = {"LD_PRELOAD=" HELPER_TEST_FOREIGN_LIBRARY}},
         "has LD_PRELOAD in its environment"},
        {{.arguments = {socketPath, writing("com.evil.library"), "--load", HELPER_TEST_FOREIGN_LIBRARY}},
         std::string("has ") + HELPER_TEST_FOREIGN_LIBRARY + " mapped"},
        {{.arguments = {socketPath, writing("com.evil.traced")}, .traced = true}, "is being traced by pid"},
        {{.arguments = {socketPath, writing("com.evil.handed"), "--hand-to", foreignCopy.string()}},
         "runs " + foreignCopy.string() + ", not "},
        {{.arguments = {socketPath, writing("com.evil.stranger")}, .user = strangerId},
         "uid 4242, which may not use the helper"},
    };
    for (const auto& peer : peers) {
        EXPECT_EQ(run(peer.peer), "closed") << peer.logged;
        EXPECT_THAT(test::readFile(logFile), HasSubstr(peer.logged));
    }
    EXPECT_EQ(snapshot(root.path()), before);
    EXPECT_EQ(HelperResponse::fromJson(run({.arguments = {socketPath, HelperRequest{}.jsonData()}})).helperVersion, "1.0.1");
}

TEST_F(RunningHelper, slowClientsAndFloodsLockNoOneOut) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    fs::permissions(root.path(), fs::perms(0755));
    std::vector<std::unique_ptr<test::SocketClient>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<test::SocketClient>(socket));
        slow.back()->sendRaw(std::string("\x00\x00\x00\x40{\"version\":1", 16));
    }
    // Served once the half frames run out of time, whatever the others do.
    EXPECT_TRUE(stillServing());

    // A stranger knocking hundreds of times leaves a few lines, not one each.
    const pid_t stranger = ::fork();
    if (stranger == 0) {
        if (!become(strangerId)) ::_exit(1);
        for (int i = 0; i < 400; ++i) {
            try {
                ::close(HelperSocket::connectTo(socket));
            } catch (...) {
            }
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(stranger, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(stillServing());  // accepted after every knock, so all of them have been seen
    const std::size_t refusals = countOf(test::readFile(logFile), "refused connection");
    EXPECT_GE(refusals, 1u);
    EXPECT_LE(refusals, 40u);
    // An administrator's refused attempt right after is not drowned by the stranger's flood, nor by more
    // refused requests of another user than a window lets through.
    for (int i = 0; i < 12; ++i) EXPECT_EQ(run({.arguments = {socket.string(), HelperRequest{}.jsonData()}}), "closed");
    const SystemUser admin("qwpadmin", true);
    ASSERT_TRUE(admin.exists());
    EXPECT_EQ(run({.arguments = {socket.string(), HelperRequest{}.jsonData()}, .user = admin.uid()}), "closed");
    EXPECT_THAT(test::readFile(logFile), HasSubstr(fmt::format("(uid {}) runs {}, not ", admin.uid(), HELPER_TEST_PEER)));
}

TEST_F(RunningHelper, jobFilesAtTheLimitsOfSizeAndNameGoThroughTheHelper) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    const std::string big(13u * 1024u * 1024u, 'x');
    root.writeFile("/Library/LaunchDaemons/com.example.big.plist", big);
    test::SocketClient client(socket);
    const auto reply = client.ask(test::request(HelperRequest::Read{daemons + "/com.example.big.plist"}));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->succeeded) << reply->message.value_or("");
    EXPECT_EQ(reply->contents.value_or(Bytes{}).size(), big.size());

    // The longest label a file name can hold, written and then replaced.
    const std::string longest(NAME_MAX - 6, 'l');
    for (int round = 0; round < 2; ++round) {
        client.send(writing(longest));
        const auto saved = client.receive();
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->message, "Saved " + longest + ".plist.");
    }
    EXPECT_TRUE(fs::exists(daemons + "/" + longest + ".plist"));
}

// A plain user holding every lock they can take, on launchd's state and beside the helper's socket, holds
// up no change: an administrator's Load through the helper goes through at once.
TEST_F(RunningHelper, noLockAPlainUserCanTakeHoldsUpALoad) {
    startHelper(HELPER_TEST_PEER);
    const SystemUser plain("qwpplain", false), admin("qwpadmin", true);
    ASSERT_TRUE(plain.exists() && admin.exists());
    fs::permissions(root.path(), fs::perms(0755));
    const std::string file = root.writeFile("/Library/LaunchDaemons/com.example.held.plist",
                                            test::jobPlist("com.example.held")).string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(ready[0]);
        if (!become(plain.uid())) ::_exit(1);
        for (const char* folder : {"/private/var/db/launchd", "/var/run"}) {
            std::error_code ec;
            const fs::path top = root.resolve(folder);
            std::vector<fs::path> paths{top};
            for (const auto& entry : fs::recursive_directory_iterator(top, ec)) paths.push_back(entry.path());
            for (const fs::path& path : paths) {
                int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
                if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
                if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) ::flock(fd, LOCK_SH | LOCK_NB);
            }
        }
        (void)!::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);

    const auto started = std::chrono::steady_clock::now();
    const std::string reply = run({.arguments = {socket.string(), test::request(HelperRequest::Launchctl{
                                                     PrivilegedVerb::bootstrap, "system", std::nullopt, file})
                                                     .jsonData()},
                                   .user = admin.uid()});
    const auto took = std::chrono::steady_clock::now() - started;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_NE(reply, "closed");
    const HelperResponse response = HelperResponse::fromJson(reply);
    EXPECT_TRUE(response.succeeded) << response.message.value_or("");
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(root.launchctl({"print", "system/com.example.held"}).exitStatus, 0);
}

TEST_F(RunningHelper, aPeerThatIsNotTheApplicationIsServedNothing) {
    startHelper((test::builtBundle() / "Contents/MacOS/Quillwick").string());
    const auto before = snapshot(root.path());
    test::SocketClient client(socket);
    const std::string path = root.resolve("/Library/LaunchDaemons/com.evil.plist").string();
    EXPECT_EQ(client.ask(test::request(HelperRequest::Write{path, test::bytes(test::jobPlist("com.evil"))})),
              std::nullopt);
    // Not even a header it could not read is answered.
    test::SocketClient oversized(socket);
    oversized.sendRaw("\xFF\xFF\xFF\xFF");
    EXPECT_EQ(oversized.receive(), std::nullopt);
    EXPECT_EQ(snapshot(root.path()), before);
    stopHelper();
}


// The helper's trust rests on its bundle: while anyone but root could change it or a folder above it (a
// plain user owns one, or anyone may write one that is not sticky), it acts for no one, says why in every
// reply and logs it once.
TEST_F(RunningHelper, aBundleOthersMayChangeIsServedNothing) {
    const SystemUser plain("qwpplain", false);
    ASSERT_TRUE(plain.exists());
    const fs::path apps = outside.path() / "apps";
    fs::create_directory(apps);
    fs::permissions(apps, fs::perms(0755));
    const fs::path bundle = test::linkedBundle(apps);
    startHelper(fs::read_symlink("/proc/self/exe").string(), bundle / "Contents/Library/LaunchDaemons" / plist.filename());
    EXPECT_TRUE(stillServing());
    const auto before = snapshot(root.path());

    const struct {
        std::function<void()> change;
        std::string refusal;
    } cases[] = {
        {[&] { ASSERT_EQ(::chown(apps.c_str(), plain.uid(), plain.gid()), 0); },
         fmt::format("{} belongs to uid {}, not to root", apps.string(), plain.uid())},
        {[&] {
             ASSERT_EQ(::chown(apps.c_str(), 0, 0), 0);
             fs::permissions(apps, fs::perms(0777));
         },
         apps.string() + " may be written by others than its owner (mode 777)"},
    };
    const fs::path requestFile = outside.path() / "request.json";
    {
        std::ofstream(requestFile) << writing("com.evil.untrusted");
    }
    test::SocketClient client(socket);
    for (const auto& c : cases) {
        c.change();
        const std::string refusal =
            "The helper acts for no one while someone other than root can change it or Quillwick: " + c.refusal + ".";
        for (int request = 0; request < 2; ++request) {
            client.send(writing("com.evil.untrusted"));
            const auto reply = client.receive();
            ASSERT_TRUE(reply);
            EXPECT_FALSE(reply->succeeded);
            EXPECT_EQ(reply->message, refusal);
        }
        const auto oneShot = Subprocess::run((bundle / "Contents/MacOS/QuillwickHelper").string(), {"one-shot", requestFile});
        EXPECT_EQ(oneShot.exitStatus, 1);
        EXPECT_EQ(HelperResponse::fromJson(oneShot.standardOutput).message, refusal);
    }
    // Once by the daemon and once by each one-shot run for each cause.
    EXPECT_EQ(countOf(test::readFile(logFile), "refusing every request: "), 2 * std::size(cases));
    // A sticky folder is fine: what lies in it stays root's.
    fs::permissions(apps, fs::perms(01777));
    EXPECT_TRUE(stillServing());
    EXPECT_EQ(snapshot(root.path()), before);
}

// An administrator's code that names the untouched application as the sender from namespaces of its
// own, or runs foreign code in it from a mount namespace where that code has a system library's name.
TEST_F(RunningHelper, aSenderFromOtherNamespacesIsRefused) {
    startHelper(genuineApplication);
    const SystemUser admin("qwpadmin", true);
    ASSERT_TRUE(admin.exists());
    if (!userNamespacesAllowed(admin.uid())) GTEST_SKIP() << "This machine forbids unprivileged user namespaces.";
    const auto environment = applicationEnvironment(admin);
    const auto before = snapshot(root.path());

    const std::string forged = run({.arguments = {"forge", socket.string(), writing("com.evil.forged"), genuineApplication},
                                    .environment = environment,
                                    .user = admin.uid(),
                                    .program = HELPER_ATTACKER,
                                    .whenReady = [&](pid_t) {
                                        EXPECT_TRUE(test::eventually([&] { return startedApplicationOf(admin.uid()).has_value(); }));
                                    }});
    EXPECT_EQ(forged, "closed\n");
    EXPECT_THAT(test::readFile(logFile), HasSubstr(fmt::format("(uid {}) is in another user namespace", admin.uid())));

    const std::string home = homeOf(admin).string();
    const std::string shown = "/usr/lib/x86_64-linux-gnu/libform.so.6.4";
    const std::string script = "mount --bind \"$0\" " + shown + " && mkdir \"$1/etc\" && { cp -a /etc/. \"$1/etc\" 2>/dev/null; "
                               "echo " + shown + " > \"$1/etc/ld.so.preload\"; } && mount --bind \"$1/etc\" /etc && exec \"$2\"";
    std::vector<std::string> preloaded = environment;
    preloaded.push_back("QUILLWICK_TEST_SOCKET=" + socket.string());
    preloaded.push_back("QUILLWICK_TEST_REQUEST=" + writing("com.evil.shown"));
    const std::string shownAsSystem = run({.arguments = {"--user", "--map-root-user", "--mount", "sh", "-c", script,
                                                         HELPER_TEST_FOREIGN_REQUEST, home, genuineApplication},
                                           .environment = preloaded,
                                           .user = admin.uid(),
                                           .program = "/usr/bin/unshare"});
    EXPECT_EQ(shownAsSystem, "closed\n");
    EXPECT_EQ(countOf(test::readFile(logFile), "is in another user namespace"), 2u);
    EXPECT_EQ(snapshot(root.path()), before);
}

// Memory of the application is its own: its user cannot write into it once main has begun, and a peer
// that could still be written into is refused.
TEST_F(RunningHelper, aPeerItsOwnUserCouldWriteIntoIsRefused) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    const SystemUser admin("qwpadmin", true);
    ASSERT_TRUE(admin.exists());
    const auto environment = applicationEnvironment(admin);

    std::vector<std::string> environmentTexts(environment);
    for (char** entry = environ; *entry; ++entry) environmentTexts.emplace_back(*entry);
    const pid_t application = ::fork();
    if (application == 0) {
        std::vector<char*> envp;
        for (auto& text : environmentTexts) envp.push_back(text.data());
        envp.push_back(nullptr);
        char* argv[] = {const_cast<char*>(genuineApplication.c_str()), nullptr};
        if (become(admin.uid())) ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    const auto memoryWritableByItsUser = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (!become(admin.uid())) ::_exit(2);
            ::_exit(::open(fmt::format("/proc/{}/mem", application).c_str(), O_RDWR | O_CLOEXEC) >= 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_TRUE(test::eventually([&] { return startedApplicationOf(admin.uid()).has_value() && !memoryWritableByItsUser(); }));
    ::kill(application, SIGKILL);
    ::waitpid(application, nullptr, 0);

    // This very program as the administrator: served as it starts (no longer dumpable once it changed
    // user), refused once it makes itself dumpable again.
    for (const bool dumpable : {false, true}) {
        int result[2];
        ASSERT_EQ(::pipe2(result, O_CLOEXEC), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (!become(admin.uid()) || (dumpable && ::prctl(PR_SET_DUMPABLE, 1) != 0)) ::_exit(1);
            test::SocketClient client(socket);
            const auto reply = client.ask(HelperRequest{});
            (void)!::write(result[1], reply ? "served" : "closed", 6);
            ::_exit(0);
        }
        ::close(result[1]);
        char said[7] = {};
        (void)!::read(result[0], said, 6);
        ::close(result[0]);
        ::waitpid(child, nullptr, 0);
        EXPECT_STREQ(said, dumpable ? "closed" : "served");
    }
    EXPECT_THAT(test::readFile(logFile),
                HasSubstr(fmt::format("(uid {}) is dumpable, so its own user may write into its memory", admin.uid())));
}

// The sender writes a whole request and at once becomes the untouched application, which keeps its pid.
// The helper is held still until the application has sealed itself, so the sender it finds on the first
// bytes is the application itself: only that it does not hold the connection refuses the request, however
// it was handed on (kept above the standard streams, or as one of them).
TEST_F(RunningHelper, aRequestSentBeforeBecomingTheApplicationNeverCounts) {
    startHelper(genuineApplication);
    const SystemUser admin("qwpadmin", true);
    ASSERT_TRUE(admin.exists());
    const auto environment = applicationEnvironment(admin);
    const auto before = snapshot(root.path());
    const pid_t helper = helperPid();
    const std::vector<std::vector<std::string>> handedOn = {{}, {"0"}, {"9"}};
    for (const auto& heldAs : handedOn) {
        ASSERT_EQ(::kill(helper, SIGSTOP), 0);
        std::thread resume([&] {
            EXPECT_TRUE(test::eventually([&] { return startedApplicationOf(admin.uid()).has_value(); }));
            ::kill(helper, SIGCONT);
        });
        std::vector<std::string> arguments{"exec", socket.string(), writing("com.evil.waited"), genuineApplication};
        arguments.insert(arguments.end(), heldAs.begin(), heldAs.end());
        const std::string reply = run({.arguments = arguments,
                                       .environment = environment,
                                       .user = admin.uid(),
                                       .program = HELPER_ATTACKER,
                                       .oneLine = true});
        resume.join();
        EXPECT_EQ(reply, "closed") << "held as descriptor " << (heldAs.empty() ? "of its own" : heldAs.front());
    }
    EXPECT_EQ(countOf(test::readFile(logFile),
                      fmt::format("(uid {}) does not hold the connection it sent on", admin.uid())),
              handedOn.size());
    EXPECT_EQ(snapshot(root.path()), before);
}

// An administrator's process that is not the application is closed on its first bytes, and all the
// application's own unfinished frames together hold a bounded amount of memory.
TEST_F(RunningHelper, halfSentFramesKeepTheHelpersMemoryBounded) {
    startHelper(fs::read_symlink("/proc/self/exe").string());
    const SystemUser admin("qwpadmin", true);
    ASSERT_TRUE(admin.exists());
    fs::permissions(root.path(), fs::perms(0755));
    EXPECT_EQ(run({.arguments = {"hold", socket.string(), "64"}, .user = admin.uid(), .program = HELPER_ATTACKER}), "held\n");

    // The application's own half frames, each sent until the helper ends its connection.
    const std::string frame = HelperSocket::encodeFrame(std::string(HelperSocket::maxFrameSize, ' '));
    std::vector<std::thread> halfSenders;
    for (int i = 0; i < 16; ++i)
        halfSenders.emplace_back([&] {
            const int fd = HelperSocket::connectTo(socket);
            (void)!::send(fd, frame.data(), frame.size() - 1, MSG_NOSIGNAL);
            ::close(fd);
        });
    for (auto& sender : halfSenders) sender.join();
    // What the budget lets the frames hold, beside the helper's own few megabytes.
    EXPECT_LT(helperPeakMemory(), (HelperServer::Limits{}.bufferedBytes >> 20) + 16);
    EXPECT_TRUE(stillServing());
    EXPECT_THAT(test::readFile(logFile), HasSubstr(fmt::format("(uid {}) runs {}, not ", admin.uid(), HELPER_ATTACKER)));
}

// A peer run as an ordinary user's helper: it cannot look into a process that is not dumpable, and
// serves its own user's application.
TEST_F(RunningHelper, theDaemonServesInASandboxOwnedByAnOrdinaryUser) {
    const SystemUser owner("qwpowner", false);
    ASSERT_TRUE(owner.exists());
    for (const auto& entry : fs::recursive_directory_iterator(root.path()))
        (void)!::lchown(entry.path().c_str(), owner.uid(), owner.uid());
    (void)!::chown(root.path().c_str(), owner.uid(), owner.uid());
    fs::permissions(root.path(), fs::perms(0755));
    const pid_t starter = ::fork();
    if (starter == 0) {
        ::setenv("QUILLWICK_HELPER_PEER", HELPER_TEST_PEER, 1);
        if (!become(owner.uid())) ::_exit(126);
        const std::string launchctl = root.resolve("/bin/launchctl").string();
        ::execl(launchctl.c_str(), launchctl.c_str(), "bootstrap", "system", plist.c_str(), nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(starter, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(test::eventually([&] { return fs::exists(socket); }));

    const std::string saved = run({.arguments = {socket.string(), writing("com.example.owned")}, .user = owner.uid()});
    EXPECT_EQ(HelperResponse::fromJson(saved).message, "Saved com.example.owned.plist.");
    EXPECT_EQ(run({.arguments = {socket.string(), writing("com.evil.stranger")}, .user = strangerId}), "closed");
    root.haltLaunchd();
}

}  // namespace
}  // namespace qw
