// The helper's socket server in-process, with the peer check configured explicitly: who is served, who is
// refused, and that every request on a connection gets exactly one reply.
#include "helper/HelperServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <thread>

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

TEST_F(HelperServerTest, refusesToListenInAFolderOthersMayWrite) {
    fs::permissions(socket.parent_path(), fs::perms::others_write, fs::perm_options::add);
    HelperServer exposed(socket, {.executable = self(), .userAdmitted = [](uid_t) { return true; }});
    EXPECT_THROW(exposed.listen(), std::runtime_error);
    EXPECT_FALSE(fs::exists(socket));
}

}  // namespace
}  // namespace qw
