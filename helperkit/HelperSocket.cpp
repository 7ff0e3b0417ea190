#include "helperkit/HelperSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "helperkit/SystemPaths.h"

namespace qw::HelperSocket {

namespace fs = std::filesystem;

namespace {

std::size_t announcedSize(std::string_view header) {
    return (std::size_t(std::uint8_t(header[0])) << 24) | (std::size_t(std::uint8_t(header[1])) << 16) |
           (std::size_t(std::uint8_t(header[2])) << 8) | std::size_t(std::uint8_t(header[3]));
}

FrameError oversized(std::size_t size) {
    return FrameError(FrameError::Kind::oversized,
                      fmt::format("A frame of {} bytes is over the limit of {} bytes.", size, maxFrameSize));
}

[[noreturn]] void ioFailure(const char* what, int error) {
    throw FrameError(FrameError::Kind::io, fmt::format("{}: {}", what, std::strerror(error)));
}

}  // namespace

void FrameReader::charge(std::size_t held) {
    if (budget_ == nullptr) return;
    if (held > charged_)
        budget_->take(held - charged_);
    else
        budget_->give(charged_ - held);
    charged_ = held;
}

FrameReader& FrameReader::operator=(FrameReader&& other) noexcept {
    if (this == &other) return *this;
    charge(0);
    buffer_ = std::move(other.buffer_);
    runs_ = std::move(other.runs_);
    partialSince_ = other.partialSince_;
    lastFeed_ = other.lastFeed_;
    partialSenderAdmitted_ = other.partialSenderAdmitted_;
    budget_ = other.budget_;
    charged_ = std::exchange(other.charged_, 0);
    other.buffer_.clear();
    other.runs_.clear();
    return *this;
}

void FrameReader::feed(std::string_view bytes, std::optional<PeerCredentials> sender) {
    if (bytes.empty()) return;
    lastFeed_ = std::chrono::steady_clock::now();
    if (buffer_.empty()) partialSince_ = lastFeed_;
    // Room for the whole announced frame at once, so the buffer is not doubled past it while it fills.
    if (buffer_.size() < 4 && buffer_.size() + bytes.size() >= 4) {
        std::string header = buffer_;
        header.append(bytes.substr(0, 4 - buffer_.size()));
        if (const std::size_t size = announcedSize(header); size <= maxFrameSize) buffer_.reserve(4 + size);
    }
    buffer_.append(bytes);
    charge(buffer_.size());
    if (!runs_.empty() && runs_.back().sender == sender)
        runs_.back().length += bytes.size();
    else
        runs_.push_back({bytes.size(), sender});
}

std::optional<Frame> FrameReader::next() {
    if (buffer_.size() < 4) return std::nullopt;
    const std::size_t size = announcedSize(buffer_);
    if (size > maxFrameSize) throw oversized(size);
    if (buffer_.size() - 4 < size) return std::nullopt;
    Frame frame{buffer_.substr(4, size), runs_.front().sender};
    // Header and body alike must come from the one sender.
    for (std::size_t left = 4 + size; left > 0;) {
        Run& run = runs_.front();
        if (run.sender != frame.sender) frame.sender.reset();
        const std::size_t taken = std::min(left, run.length);
        run.length -= taken;
        left -= taken;
        if (run.length == 0) runs_.pop_front();
    }
    buffer_.erase(0, 4 + size);
    if (buffer_.empty()) std::string().swap(buffer_);  // a large frame's room goes back at once
    partialSenderAdmitted_ = false;
    charge(buffer_.size());
    if (!buffer_.empty()) partialSince_ = lastFeed_;
    return frame;
}

std::string encodeFrame(std::string_view payload) {
    if (payload.size() > maxFrameSize) throw oversized(payload.size());
    const auto n = static_cast<std::uint32_t>(payload.size());
    std::string frame{char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    frame.append(payload);
    return frame;
}

std::optional<std::string> readFrame(int fd, FrameReader& reader) {
    char chunk[65536];
    while (true) {
        if (auto frame = reader.next()) return std::move(frame->payload);
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            ioFailure("Could not read from the connection", errno);
        }
        if (n == 0) {
            if (reader.hasPartialFrame())
                throw FrameError(FrameError::Kind::truncated, "The connection closed in the middle of a frame.");
            return std::nullopt;
        }
        reader.feed(std::string_view(chunk, static_cast<std::size_t>(n)));
    }
}

void writeFrame(int fd, std::string_view payload) {
    const std::string frame = encodeFrame(payload);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        // MSG_NOSIGNAL: a peer that went away is an error here, not a SIGPIPE for the whole process.
        const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            ioFailure("Could not write to the connection", errno);
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::optional<Frame> receiveFrame(int fd, FrameReader& reader, std::chrono::milliseconds deadline,
                                  const SenderCheck& admitSender) {
    char chunk[65536];
    // Room for the credentials and for a few descriptors a sender may pass unasked; any beyond that the
    // kernel drops itself.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(16 * sizeof(int))];
    while (true) {
        if (admitSender && reader.hasPartialFrame() && !reader.partialSenderAdmitted()) {
            if (!admitSender(reader.partialSender()))
                throw FrameError(FrameError::Kind::refused, "The sender of a frame was refused.");
            reader.admitPartialSender();
        }
        if (auto frame = reader.next()) return frame;
        int timeout = -1;
        if (reader.hasPartialFrame()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                reader.partialSince() + deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                throw FrameError(FrameError::Kind::timedOut,
                                 fmt::format("A frame did not arrive in full within {} ms.", deadline.count()));
            timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
        }
        // With the shared budget used up, only a hang-up is read (to end the connection); more bytes wait.
        const bool waitForRoom = reader.budget() && reader.budget()->usedUp();
        if (waitForRoom) timeout = std::min(timeout < 0 ? INT_MAX : timeout, 50);
        pollfd ready{fd, short(waitForRoom ? POLLRDHUP : POLLIN), 0};
        const int polled = ::poll(&ready, 1, timeout);
        if (polled < 0 && errno != EINTR) ioFailure("Could not wait for the connection", errno);
        if (polled <= 0) continue;

        iovec buffer{chunk, sizeof chunk};
        msghdr message{};
        message.msg_iov = &buffer;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        // The kernel never joins the bytes of two senders in one read.
        const ssize_t n = ::recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ioFailure("Could not read from the connection", errno);
        }
        std::optional<PeerCredentials> sender;
        for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
            if (part->cmsg_level != SOL_SOCKET) continue;
            if (part->cmsg_type == SCM_CREDENTIALS && part->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
                ucred credentials{};
                std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
                sender = PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
            } else if (part->cmsg_type == SCM_RIGHTS) {
                const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (std::size_t i = 0; i < count; ++i) {
                    int passed = -1;
                    std::memcpy(&passed, CMSG_DATA(part) + i * sizeof(int), sizeof passed);
                    ::close(passed);
                }
            }
        }
        if (n == 0) {
            if (reader.hasPartialFrame())
                throw FrameError(FrameError::Kind::truncated, "The connection closed in the middle of a frame.");
            return std::nullopt;
        }
        reader.feed(std::string_view(chunk, static_cast<std::size_t>(n)), sender);
    }
}

PeerCredentials peerCredentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        throw std::system_error(errno, std::generic_category(), "SO_PEERCRED");
    return {credentials.pid, credentials.uid, credentials.gid};
}

int connectTo(const fs::path& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = socketPath.native();
    if (text.size() >= sizeof address.sun_path)
        throw std::system_error(ENAMETOOLONG, std::generic_category(), socketPath.string());
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
    while (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), socketPath.string());
    }
    return fd;
}

}  // namespace qw::HelperSocket
