// The helper's socket server in-process, with the peer check configured explicitly: who is served, who is
// refused, and that every request on a connection gets exactly one reply.
#include "helper/HelperServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    void start(HelperSocket::PeerRequirement requirement) {
        server.emplace(socket, std::move(requirement));
        server->listen();
        serving = std::thread([this] { server->serve(); });
    }
};

TEST_F(HelperServerTest, anAdmittedPeerGetsOneReplyPerRequestOnAnyNumberOfConnections) {
    start({self(), [](uid_t) { return true; }});
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
    const struct {
        HelperSocket::PeerRequirement requirement;
        std::string logged;
    } cases[] = {
        {{test::builtBundle() / "Contents/MacOS/Quillwick", [](uid_t) { return true; }}, "runs " + self().string()},
        {{self(), [](uid_t) { return false; }}, "which may not use the helper"},
    };
    for (const auto& c : cases) {
        start(c.requirement);
        test::SocketClient client(socket);
        EXPECT_EQ(client.ask(test::request(HelperRequest::Delete{root.resolve("/Library/LaunchDaemons/a.plist")})),
                  std::nullopt);
        EXPECT_THAT(test::readFile(logFile), HasSubstr("[main] error: refused connection: pid " +
                                                        std::to_string(::getpid())));
        EXPECT_THAT(test::readFile(logFile), HasSubstr(c.logged));
        TearDown();
        SetUp();
    }
}

TEST_F(HelperServerTest, refusesToListenInAFolderOthersMayWrite) {
    fs::permissions(socket.parent_path(), fs::perms::others_write, fs::perm_options::add);
    HelperServer exposed(socket, {self(), [](uid_t) { return true; }});
    EXPECT_THROW(exposed.listen(), std::runtime_error);
    EXPECT_FALSE(fs::exists(socket));
}

}  // namespace
}  // namespace qw
