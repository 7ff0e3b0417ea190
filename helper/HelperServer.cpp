#include "helper/HelperServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

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

// Lines about refused and dropped connections come at the rate anyone can knock: a few per window for
// each user and kind of line, so one user's flood drowns no other's, and how many were left out said on
// the next one let through.
class Throttle {
public:
    void error(uid_t uid, std::string_view kind, const std::string& detail) {
        std::string line = fmt::format("{}: {}", kind, detail);
        {
            std::lock_guard guard(lock_);
            Window& window = windows_[{uid, std::string(kind)}];
            const auto now = std::chrono::steady_clock::now();
            if (now - window.start >= length) {
                window.start = now;
                window.used = 0;
            }
            if (window.used == perWindow) {
                ++window.leftOut;
                return;
            }
            ++window.used;
            if (window.leftOut > 0) line += fmt::format(" ({} similar lines left out before this one)", window.leftOut);
            window.leftOut = 0;
        }
        HelperRequests::mainLog().error(line);
    }

private:
    struct Window {
        std::chrono::steady_clock::time_point start{};
        int used = 0;
        std::size_t leftOut = 0;
    };
    static constexpr int perWindow = 10;
    static constexpr std::chrono::seconds length{10};
    std::mutex lock_;
    std::map<std::pair<uid_t, std::string>, Window> windows_;
};

Throttle& connectionLog() {
    static Throttle instance;
    return instance;
}

// Who sent an accepted request, for its log line.
std::string describedSender(const HelperSocket::PeerCredentials& sender) {
    std::error_code ec;
    const fs::path executable = fs::read_symlink(fmt::format("/proc/{}/exe", sender.pid), ec);
    return fmt::format("pid {}, uid {}, {}", sender.pid, sender.uid,
                       ec ? std::string("an executable that cannot be read") : executable.string());
}

}  // namespace

HelperServer::HelperServer(fs::path socketPath, HelperSocket::PeerRequirement requirement)
    : HelperServer(std::move(socketPath), std::move(requirement), Limits{}) {}

HelperServer::HelperServer(fs::path socketPath, HelperSocket::PeerRequirement requirement, Limits limits,
                           Distrust distrust)
    : socketPath_(std::move(socketPath)), requirement_(std::move(requirement)), limits_(limits),
      distrust_(std::move(distrust)), budget_(limits.bufferedBytes) {}

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
        uid_t uid = static_cast<uid_t>(-1);
        try {
            const auto peer = HelperSocket::peerCredentials(fd);
            uid = peer.uid;
            refusal = requirement_.userRefusal(peer);
        } catch (const std::exception& error) {
            refusal = error.what();
        }
        if (refusal) {
            connectionLog().error(uid, "refused connection", PrivilegedOperations::escapedForLog(*refusal));
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
        std::thread([this, fd, uid] { serveConnection(fd, uid); }).detach();
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

std::optional<std::string> HelperServer::distrusted() {
    if (!distrust_) return std::nullopt;
    std::optional<std::string> why = distrust_();
    std::lock_guard guard(lock_);
    if (why && why != loggedDistrust_)
        HelperRequests::mainLog().error("refusing every request: " + PrivilegedOperations::escapedForLog(*why));
    loggedDistrust_ = why;
    return why;
}

bool HelperServer::admitted(const std::optional<HelperSocket::PeerCredentials>& sender, int fd, uid_t uid) const {
    const std::optional<std::string> refusal = sender ? requirement_.refusal(*sender, fd)
                                                      : std::optional<std::string>("its bytes came from more than one process");
    if (refusal)
        connectionLog().error(sender ? sender->uid : uid, "refused request", PrivilegedOperations::escapedForLog(*refusal));
    return !refusal;
}

void HelperServer::serveConnection(int fd, uid_t uid) {
    serveRequests(fd, uid);
    // Last, once the reader has given its bytes back: the server may be gone the moment this is seen.
    std::lock_guard guard(lock_);
    if (connections_.erase(fd) > 0) ::close(fd);
    drained_.notify_all();
}

void HelperServer::serveRequests(int fd, uid_t uid) {
    HelperSocket::FrameReader reader(&budget_);
    // A frame's sender is checked on its first bytes, before the rest is taken in or anything answered,
    // and again once it is whole.
    const auto admitFirstBytes = [&](const std::optional<HelperSocket::PeerCredentials>& sender) {
        return admitted(sender, fd, uid);
    };
    try {
        while (auto frame = HelperSocket::receiveFrame(fd, reader, limits_.frameDeadline, admitFirstBytes)) {
            setServing(fd, true);
            if (!admitted(frame->sender, fd, uid)) break;
            std::string reply;
            if (const auto why = distrusted())
                reply = HelperResponse::failure(*why).jsonData();
            else
                reply = HelperRequests::replyTo(frame->payload, describedSender(*frame->sender));
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
        if (error.kind() != HelperSocket::FrameError::Kind::io && error.kind() != HelperSocket::FrameError::Kind::refused)
            connectionLog().error(uid, "dropped connection", error.what());
    } catch (const std::exception& error) {
        connectionLog().error(uid, "dropped connection", error.what());
    }
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
