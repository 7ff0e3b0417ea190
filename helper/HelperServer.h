// The helper daemon's listener on its Unix-domain socket. A connection is kept only for a user who may
// use the helper; every request on it is then checked against the process that sent it, on its first
// bytes and once it is whole, and a request that fails the check ends the connection unanswered. Each
// connection is served on a thread of its own, one reply per request, for as many requests as it sends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "helperkit/HelperSocket.h"

namespace qw {

class HelperServer {
public:
    struct Limits {
        std::size_t connections = 64;
        // How long a frame may take to arrive once its first byte is in.
        std::chrono::milliseconds frameDeadline{5000};
        // What all connections together may hold of unfinished frames before they wait.
        std::size_t bufferedBytes = 64u << 20;
    };

    // Asked before each admitted request is carried out: nothing while the helper may act, else why it may
    // not, which is then the reply to every request and logged once for as long as it holds.
    using Distrust = std::function<std::optional<std::string>()>;

    HelperServer(std::filesystem::path socketPath, HelperSocket::PeerRequirement requirement);
    HelperServer(std::filesystem::path socketPath, HelperSocket::PeerRequirement requirement, Limits limits,
                 Distrust distrust = {});
    ~HelperServer();  // stop(), then waits for every connection to end
    HelperServer(const HelperServer&) = delete;
    HelperServer& operator=(const HelperServer&) = delete;

    // Binds the socket (replacing a stale one). The folder must belong to the system owner and be
    // writable by no one else, or anyone could put a socket of their own in its place. Throws
    // std::runtime_error.
    void listen();
    // Accepts until stop(); returns then. With every connection taken, a new one takes the place of the
    // one that has waited longest for its next request.
    void serve();
    // Closes the listener and every open connection. Safe from any thread.
    void stop();

private:
    struct Connection {
        bool serving = false;  // a request of it is being carried out
        bool closing = false;  // shut down to make room
        std::chrono::steady_clock::time_point waitingSince;
    };

    void serveConnection(int fd, uid_t uid);  // serveRequests, then the connection is ended
    void serveRequests(int fd, uid_t uid);
    // Whether `sender` passes the peer check for connection `fd` of user `uid`; a refusal is logged.
    bool admitted(const std::optional<HelperSocket::PeerCredentials>& sender, int fd, uid_t uid) const;
    void setServing(int fd, bool serving);
    // The distrust's answer now, logged when it is new.
    std::optional<std::string> distrusted();
    // With the lock held: shuts down the connection that has waited longest, unless one is already
    // closing or every one is busy.
    void makeRoom();

    std::filesystem::path socketPath_;
    HelperSocket::PeerRequirement requirement_;
    Limits limits_;
    Distrust distrust_;
    std::optional<std::string> loggedDistrust_;
    HelperSocket::BufferBudget budget_;
    int listener_ = -1;
    std::mutex lock_;
    std::condition_variable drained_;
    std::map<int, Connection> connections_;
    bool stopping_ = false;
};

}  // namespace qw
