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

constexpr std::size_t maxConnections = 64;

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(fmt::format("{}: {}", what, std::strerror(error)));
}

}  // namespace

HelperServer::HelperServer(fs::path socketPath, HelperSocket::PeerRequirement requirement)
    : socketPath_(std::move(socketPath)), requirement_(std::move(requirement)) {}

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
        std::optional<std::string> refusal;
        try {
            refusal = requirement_.refusal(HelperSocket::peerCredentials(fd));
        } catch (const std::exception& error) {
            refusal = error.what();
        }
        if (refusal) {
            HelperRequests::mainLog().error(
                fmt::format("refused connection: {}", PrivilegedOperations::escapedForLog(*refusal)));
            ::close(fd);
            continue;
        }
        std::lock_guard guard(lock_);
        if (stopping_ || connections_.size() >= maxConnections) {
            if (!stopping_) HelperRequests::mainLog().error("refused connection: too many open connections");
            ::close(fd);
            if (stopping_) return;
            continue;
        }
        connections_.insert(fd);
        std::thread([this, fd] { serveConnection(fd); }).detach();
    }
}

void HelperServer::serveConnection(int fd) {
    HelperSocket::FrameReader reader;
    try {
        while (auto request = HelperSocket::readFrame(fd, reader)) {
            std::string reply = HelperRequests::replyTo(*request);
            if (reply.size() > HelperSocket::maxFrameSize)
                reply = HelperResponse::failure("The reply is larger than the 16 MiB a message may hold.").jsonData();
            HelperSocket::writeFrame(fd, reply);
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
            HelperRequests::mainLog().error(fmt::format("dropped connection: {}", error.what()));
    } catch (const std::exception& error) {
        HelperRequests::mainLog().error(fmt::format("dropped connection: {}", error.what()));
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
    for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace qw
