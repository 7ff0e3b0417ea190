// The helper daemon's listener on its Unix-domain socket. Every peer is checked before a byte of it is
// read; each admitted connection is served on a thread of its own, one reply per request, for as many
// requests as it sends.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>

#include "helperkit/HelperSocket.h"

namespace qw {

class HelperServer {
public:
    HelperServer(std::filesystem::path socketPath, HelperSocket::PeerRequirement requirement);
    ~HelperServer();  // stop(), then waits for every connection to end
    HelperServer(const HelperServer&) = delete;
    HelperServer& operator=(const HelperServer&) = delete;

    // Binds the socket (replacing a stale one). The folder must belong to the system owner and be
    // writable by no one else, or anyone could put a socket of their own in its place. Throws
    // std::runtime_error.
    void listen();
    // Accepts until stop(); returns then.
    void serve();
    // Closes the listener and every open connection. Safe from any thread.
    void stop();

private:
    void serveConnection(int fd);

    std::filesystem::path socketPath_;
    HelperSocket::PeerRequirement requirement_;
    int listener_ = -1;
    std::mutex lock_;
    std::condition_variable drained_;
    std::set<int> connections_;
    bool stopping_ = false;
};

}  // namespace qw
