#include "helper/HelperServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fmt/format.h>

#include "helper/HelperRequests.h"
#include "helper/JobFolder.h"
#include "helper/PrivilegedOperations.h"
#include "helperkit/HelperProtocol.h"

namespace qw {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(fmt::format("{}: {}", what, std::strerror(error)));
}

// Lines about refused and dropped connections come at the rate anyone can knock: a few per window, and
// how many were left out said on the next one let through.
class Throttle {
public:
    void error(std::string line) {
        {
            std::lock_guard guard(lock_);
            const auto now = std::chrono::steady_clock::now();
            if (now - windowStart_ >= window) {
                windowStart_ = now;
                used_ = 0;
            }
            if (used_ == perWindow) {
                ++leftOut_;
                return;
            }
            ++used_;
            if (leftOut_ > 0) line += fmt::format(" ({} similar lines left out before this one)", leftOut_);
            leftOut_ = 0;
        }
        HelperRequests::mainLog().error(line);
    }

private:
    static constexpr int perWindow = 10;
    static constexpr std::chrono::seconds window{10};
    std::mutex lock_;
    std::chrono::steady_clock::time_point windowStart_{};
    int used_ = 0;
    std::size_t leftOut_ = 0;
};

Throttle& connectionLog() {
    static Throttle instance;
    return instance;
}

}  // namespace

HelperServer::HelperServer(fs::path socketPath, HelperSocket::PeerRequirement requirement)
    : HelperServer(std::move(socketPath), std::move(requirement), Limits{}) {}

HelperServer::HelperServer(fs::path socketPath, HelperSocket::PeerRequirement requirement, Limits limits)
    : socketPath_(std::move(socketPath)), requirement_(std::move(requirement)), limits_(limits) {}

HelperServer::~HelperServer() {
    stop();
    std::unique_lock guard(lock_);
    drained_.wait(guard, [this] { return connections_.empty(); });
    if (listener_ >= 0) ::close(listener_);
}

void HelperServer::listen() {
    const fs::path folder = socketPath_.parent_path();
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) fail(folder.string(), errno);
    const FileOwner owner = FileOwner::system();
    if (!S_ISDIR(info.st_mode) || info.st_uid != owner.uid || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        throw std::runtime_error(
            fmt::format("{} is not a folder only uid {} may write to; not listening there.", folder.string(), owner.uid));

    if (::lstat(socketPath_.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode))
            throw std::runtime_error(fmt::format("{} exists and is not a socket.", socketPath_.string()));
        ::unlink(socketPath_.c_str());
    }

    // Bound and listening under a name of its own first, then renamed into place: whoever sees the
    // socket can connect to it.
    const fs::path pending = socketPath_.native() + "." + std::to_string(::getpid());
    ::unlink(pending.c_str());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (pending.native().size() >= sizeof address.sun_path) fail(socketPath_.string(), ENAMETOOLONG);
    std::memcpy(address.sun_path, pending.c_str(), pending.native().size() + 1);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) fail("socket", errno);
    // Every connection inherits it: the kernel then names the sending process of every byte received.
    const int on = 1;
    if (::setsockopt(listener_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) fail("SO_PASSCRED", errno);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail(socketPath_.string(), errno);
    // Anyone may knock; the peer check decides who is served, and logs who was not.
    if (::chmod(pending.c_str(), 0666) != 0 || ::listen(listener_, 64) != 0 ||
        ::rename(pending.c_str(), socketPath_.c_str()) != 0) {
        const int error = errno;
        ::unlink(pending.c_str());
        fail(socketPath_.string(), error);
    }
}

void HelperServer::serve() {
    while (true) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            std::lock_guard guard(lock_);
            if (stopping_ || (errno != EMFILE && errno != ENFILE)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // out of descriptors: let some close
            continue;
        }
        // Only a user who may use the helper holds a connection; what each request may do is decided
        // when it arrives, from its sender.
        std::optional<std::string> refusal;
        try {
            refusal = requirement_.userRefusal(HelperSocket::peerCredentials(fd));
        } catch (const std::exception& error) {
            refusal = error.what();
        }
        if (refusal) {
            connectionLog().error(fmt::format("refused connection: {}", PrivilegedOperations::escapedForLog(*refusal)));
            ::close(fd);
            continue;
        }
        std::unique_lock guard(lock_);
        while (!stopping_ && connections_.size() >= limits_.connections) {
            makeRoom();
            drained_.wait(guard);
        }
        if (stopping_) {
            ::close(fd);
            return;
        }
        connections_[fd] = Connection{false, false, std::chrono::steady_clock::now()};
        std::thread([this, fd] { serveConnection(fd); }).detach();
    }
}

void HelperServer::makeRoom() {
    auto oldest = connections_.end();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->second.closing) return;
        if (!it->second.serving && (oldest == connections_.end() || it->second.waitingSince < oldest->second.waitingSince))
            oldest = it;
    }
    if (oldest == connections_.end()) return;
    oldest->second.closing = true;
    ::shutdown(oldest->first, SHUT_RDWR);
}

void HelperServer::setServing(int fd, bool serving) {
    std::lock_guard guard(lock_);
    Connection& connection = connections_.at(fd);
    connection.serving = serving;
    if (!serving) connection.waitingSince = std::chrono::steady_clock::now();
}

void HelperServer::serveConnection(int fd) {
    HelperSocket::FrameReader reader;
    try {
        while (auto frame = HelperSocket::receiveFrame(fd, reader, limits_.frameDeadline)) {
            setServing(fd, true);
            const std::optional<std::string> refusal =
                frame->sender ? requirement_.refusal(*frame->sender)
                              : std::optional<std::string>("its bytes came from more than one process");
            if (refusal) {
                connectionLog().error(fmt::format("refused request: {}", PrivilegedOperations::escapedForLog(*refusal)));
                break;
            }
            std::string reply = HelperRequests::replyTo(frame->payload);
            if (reply.size() > HelperSocket::maxFrameSize)
                reply = HelperResponse::failure("The reply is larger than a message may hold.").jsonData();
            HelperSocket::writeFrame(fd, reply);
            setServing(fd, false);
        }
    } catch (const HelperSocket::FrameError& error) {
        if (error.kind() == HelperSocket::FrameError::Kind::oversized) {
            // The announced request is answered, so the client is not left waiting; the rest of the
            // stream cannot be framed any more, so the connection ends.
            try {
                HelperSocket::writeFrame(fd, HelperResponse::failure("The helper could not read that request.").jsonData());
            } catch (const std::exception&) {
            }
        }
        if (error.kind() != HelperSocket::FrameError::Kind::io)
            connectionLog().error(fmt::format("dropped connection: {}", error.what()));
    } catch (const std::exception& error) {
        connectionLog().error(fmt::format("dropped connection: {}", error.what()));
    }
    std::lock_guard guard(lock_);
    if (connections_.erase(fd) > 0) ::close(fd);
    drained_.notify_all();
}

void HelperServer::stop() {
    std::lock_guard guard(lock_);
    stopping_ = true;
    // Shut down, not closed: the descriptor stays valid for an accept still waiting on it.
    if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);
    for (const auto& [fd, connection] : connections_) ::shutdown(fd, SHUT_RDWR);
    drained_.notify_all();
}

}  // namespace qw
