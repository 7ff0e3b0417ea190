// The helper's socket server in-process, with the peer check configured explicitly: who is served, who is
// refused, and that every request on a connection gets exactly one reply.
#include "helper/HelperServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include <fmt/format.h>

#include "tests/helper/HelperTestSupport.h"

namespace qw {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

fs::path self() { return fs::read_symlink("/proc/self/exe"); }

struct HelperServerTest : ::testing::Test {
    test::SandboxRoot root;
    fs::path socket = SystemPaths::current().helperSocket();
    fs::path logFile = root.path() / "helper.log";
    std::optional<HelperServer> server;
    std::thread serving;

    void SetUp() override { ::setenv("QUILLWICK_LOG_FILE", logFile.c_str(), 1); }
    void TearDown() override {
        if (server) server->stop();
        if (serving.joinable()) serving.join();
        server.reset();
        ::unsetenv("QUILLWICK_LOG_FILE");
    }
    void start(HelperSocket::PeerRequirement requirement, HelperServer::Limits limits = {}) {
        server.emplace(socket, std::move(requirement), limits);
        server->listen();
        serving = std::thread([this] { server->serve(); });
    }
};

TEST_F(HelperServerTest, anAdmittedPeerGetsOneReplyPerRequestOnAnyNumberOfConnections) {
    start({.executable = self(), .userAdmitted = [](uid_t) { return true; }});
    test::SocketClient first(socket);
    test::SocketClient second(socket);
    for (int i = 0; i < 3; ++i) {
        HelperRequest version;
        const auto reply = (i % 2 ? first : second).ask(version);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->helperVersion, "1.0.1");
    }
    // An undecodable request is answered, and the connection goes on.
    first.send("{\"version\":1}");
    EXPECT_EQ(first.receive(), HelperResponse::failure("The helper could not read that request."));
    EXPECT_TRUE(first.ask(HelperRequest{}));
    // Requests sent back to back come back in order.
    first.send(test::request(HelperRequest::Read{"/nowhere/a.plist"}).jsonData());
    first.send(HelperRequest{}.jsonData());
    EXPECT_FALSE(first.receive()->succeeded);
    EXPECT_TRUE(first.receive()->succeeded);
    EXPECT_THAT(test::readFile(logFile), HasSubstr("undecodable request: The key “operation” is missing."));
}

TEST_F(HelperServerTest, peersThatFailTheCheckAreRefusedAndLogged) {
    const auto admitAnyone = [](uid_t) { return true; };
    const std::string request = test::request(HelperRequest::Delete{root.resolve("/Library/LaunchDaemons/a.plist")}).jsonData();
    const std::string frame = HelperSocket::encodeFrame(request);
    const struct {
        HelperSocket::PeerRequirement requirement;
        bool headerFromAnotherProcess;
        std::string logged;
    } cases[] = {
        {{.executable = test::builtBundle() / "Contents/MacOS/Quillwick", .userAdmitted = admitAnyone}, false,
         "refused request: pid " + std::to_string(::getpid()) + " (uid " + std::to_string(::getuid()) + ") runs " +
             self().string()},
        {{.executable = self(), .userAdmitted = [](uid_t) { return false; }}, false,
         "refused connection: pid " + std::to_string(::getpid()) + " runs as uid " + std::to_string(::getuid()) +
             ", which may not use the helper"},
        {{.executable = self(), .userAdmitted = admitAnyone}, true,
         "refused request: its bytes came from more than one process"},
    };
    for (const auto& c : cases) {
        // A frame sent in two parts must not run out of time between them on a busy machine: the
        // refusal, not the deadline, is under test.
        start(c.requirement, {.frameDeadline = std::chrono::minutes(1)});
        test::SocketClient client(socket);
        if (c.headerFromAnotherProcess) {
            // The header from a child of ours, the body from us: neither sent the request. The child lives
            // on until the body is in, so it passes the check on its first bytes.
            int sent[2], done[2];
            ASSERT_EQ(::pipe(sent), 0);
            ASSERT_EQ(::pipe(done), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                // The fork copied the server thread's end of the connection too: held here, it would keep
                // the refused connection open and the parent waiting for its end.
                for (int fd = 3; fd < 1024; ++fd)
                    if (fd != client.fd() && fd != sent[1] && fd != done[0]) ::close(fd);
                client.sendRaw(frame.substr(0, 4));
                char ignored = 0;
                (void)!::write(sent[1], &ignored, 1);
                (void)!::read(done[0], &ignored, 1);
                ::_exit(0);
            }
            char ignored = 0;
            (void)!::read(sent[0], &ignored, 1);
            client.sendRaw(frame.substr(4));
            EXPECT_EQ(client.receive(), std::nullopt);
            (void)!::write(done[1], &ignored, 1);
            ::waitpid(child, nullptr, 0);
            for (const int fd : {sent[0], sent[1], done[0], done[1]}) ::close(fd);
        } else {
            client.sendRaw(frame);
        }
        EXPECT_EQ(client.receive(), std::nullopt);
        EXPECT_THAT(test::readFile(logFile), HasSubstr("[main] error: " + c.logged));
        TearDown();
        SetUp();
    }
}

TEST_F(HelperServerTest, aFrameThatStopsHalfwayEndsItsConnectionAfterItsDeadline) {
    server.emplace(socket, HelperSocket::PeerRequirement{.executable = self(), .userAdmitted = [](uid_t) { return true; }},
                   HelperServer::Limits{.connections = 1, .frameDeadline = std::chrono::milliseconds(200)});
    server->listen();
    serving = std::thread([this] { server->serve(); });
    test::SocketClient slow(socket);
    slow.sendRaw(std::string("\x00\x00\x00\x40{", 5));
    EXPECT_EQ(slow.receive(), std::nullopt);
    EXPECT_THAT(test::readFile(logFile), HasSubstr("dropped connection: A frame did not arrive in full within 200 ms."));
    // The one place is free again.
    test::SocketClient next(socket);
    EXPECT_TRUE(next.ask(HelperRequest{}));
}

// Once a server's destructor has returned, none of its connections may touch it: a server built in its
// place would take their leftovers as its own, find its buffer budget used up and read no request again.
// To make the late connection late every time, the test runs on one CPU with the server's threads below
// it, and the connection's last log line waits in a pipe until the test is waiting for it to end.
TEST_F(HelperServerTest, anEndedServerIsNotTouchedByItsConnections) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(::sched_getcpu(), &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    const pid_t testThread = ::gettid();
    const auto otherThreads = [testThread] {
        std::vector<pid_t> found;
        for (const auto& task : fs::directory_iterator("/proc/self/task"))
            if (const pid_t tid = std::stoi(task.path().filename()); tid != testThread) found.push_back(tid);
        return found;
    };
    const auto waitUntil = [](const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    };
    const fs::path pipe = root.path() / "held.log";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const HelperSocket::PeerRequirement anyone{.executable = self(), .userAdmitted = [](uid_t) { return true; }};
    start(anyone, {.frameDeadline = std::chrono::minutes(1)});
    for (int round = 0; round < 3; ++round) {
        ::setenv("QUILLWICK_LOG_FILE", pipe.c_str(), 1);
        test::SocketClient half(socket);
        half.sendRaw(std::string("\x00\x00\x00\x40{", 5));
        ASSERT_TRUE(waitUntil([&] {
            int unread = -1;
            return ::ioctl(half.fd(), SIOCOUTQ, &unread) == 0 && unread == 0;
        })) << "the server never took the half frame in";
        const sched_param none{};
        for (const pid_t tid : otherThreads()) ::sched_setscheduler(tid, SCHED_IDLE, &none);

        std::atomic<bool> ending = false;
        std::thread release([&] {
            const auto waitingOnALock = [&] {
                std::string call;
                std::ifstream(fmt::format("/proc/self/task/{}/syscall", testThread)) >> call;
                return ending && call == std::to_string(SYS_futex);
            };
            // Released either way, or the server would wait for the connection for ever.
            if (!waitUntil(waitingOnALock)) ADD_FAILURE() << "never saw the test thread wait for the server";
            const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            pollfd line{fd, POLLIN, 0};
            char ignored[4096];
            if (::poll(&line, 1, 30'000) == 1) (void)!::read(fd, ignored, sizeof ignored);
            ::close(fd);
        });
        server->stop();
        serving.join();
        ending = true;
        server.reset();
        // The next one in the same place, before this thread waits for anything.
        start(anyone, {.frameDeadline = std::chrono::seconds(5)});
        release.join();
        ASSERT_TRUE(waitUntil([&] { return otherThreads().size() == 1; })) << "the old connection never ended";
        ::setenv("QUILLWICK_LOG_FILE", logFile.c_str(), 1);  // the answer is logged too

        test::SocketClient client(socket);
        const timeval patience{30, 0};
        ASSERT_EQ(::setsockopt(client.fd(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience), 0);
        ASSERT_TRUE(client.ask(HelperRequest{})) << "round " << round;
    }
}

TEST_F(HelperServerTest, refusesToListenInAFolderOthersMayWrite) {
    fs::permissions(socket.parent_path(), fs::perms::others_write, fs::perm_options::add);
    HelperServer exposed(socket, {.executable = self(), .userAdmitted = [](uid_t) { return true; }});
    EXPECT_THROW(exposed.listen(), std::runtime_error);
    EXPECT_FALSE(fs::exists(socket));
}

// Code shown under a system library's path is refused once another file sits at that path, as when a
// mount namespace of the peer's own puts it there (the mount here is made in a namespace of the test's).
TEST(PeerRequirementTest, codeMappedFromAnotherFileThanItsPathNamesIsRefused) {
    const char* shown = "/usr/lib/x86_64-linux-gnu/libform.so.6.4";
    if (::geteuid() != 0 || !fs::exists(shown)) GTEST_SKIP() << "Needs root and " << shown;
    const pid_t checker = ::fork();
    if (checker == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(2);
        int mapped[2];
        if (::pipe(mapped) != 0) ::_exit(2);
        const pid_t peer = ::fork();
        if (peer == 0) {
            const int file = ::open(shown, O_RDONLY | O_CLOEXEC);
            if (file < 0 || ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE, file, 0) == MAP_FAILED) ::_exit(2);
            ::prctl(PR_SET_DUMPABLE, 0);
            (void)!::write(mapped[1], "m", 1);
            ::pause();
        }
        char ignored = 0;
        (void)!::read(mapped[0], &ignored, 1);
        const HelperSocket::PeerRequirement requirement{
            .executable = self(), .userAdmitted = [](uid_t) { return true; }, .validateLibraries = true};
        const bool admittedBefore = !requirement.refusal({peer, 0, 0});
        const bool covered = ::mount(self().c_str(), shown, nullptr, MS_BIND, nullptr) == 0;
        const auto after = requirement.refusal({peer, 0, 0});
        ::kill(peer, SIGKILL);
        ::waitpid(peer, nullptr, 0);
        if (!admittedBefore || !covered) ::_exit(3);
        ::_exit(after && after->find(fmt::format("has another file than {} mapped", shown)) != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ::waitpid(checker, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no namespace or mapping, 3: not admitted before or not covered";
}

}  // namespace
}  // namespace qw
