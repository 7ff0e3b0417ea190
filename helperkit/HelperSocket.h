// The local stand-in for the helper's Mach service: a Unix-domain stream socket carrying frames of a
// 4-byte big-endian length and that many bytes of JSON, any number per connection. A frame is large
// enough for the largest job file a request or reply carries, in Base64. Both programs check who is at
// the other end from the kernel's credentials: the helper for every request, from the process that sent
// it; the application once, from the process that listens.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "helperkit/PeerRequirement.h"

namespace qw::HelperSocket {

// The largest job file a message carries, and the largest frame: that file in Base64 with room to spare
// for the rest of the message.
inline constexpr std::size_t maxContentsSize = 16u * 1024u * 1024u;
inline constexpr std::size_t maxFrameSize = (maxContentsSize + 2) / 3 * 4 + 64u * 1024u;

class FrameError : public std::runtime_error {
public:
    enum class Kind { truncated, oversized, timedOut, io, refused };
    FrameError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct Frame {
    std::string payload;
    // The one process that sent every byte of the frame, as the kernel told; nothing when it told
    // nothing or when the bytes came from more than one process.
    std::optional<PeerCredentials> sender;
};

// What the readers sharing it may hold together in unfinished frames; receiveFrame reads no more
// while it is used up.
class BufferBudget {
public:
    explicit BufferBudget(std::size_t limit) : limit_(limit) {}
    bool usedUp() const { return held_.load() >= limit_; }
    std::size_t held() const { return held_.load(); }
    void take(std::size_t bytes) { held_ += bytes; }
    void give(std::size_t bytes) { held_ -= bytes; }

private:
    std::size_t limit_;
    std::atomic<std::size_t> held_{0};
};

// Splits a byte stream into frames, however the bytes arrive, keeping account of who sent which.
class FrameReader {
public:
    FrameReader() = default;
    explicit FrameReader(BufferBudget* budget) : budget_(budget) {}
    ~FrameReader() { charge(0); }
    // Moved, the budget's charge goes with the bytes.
    FrameReader(FrameReader&& other) noexcept { *this = std::move(other); }
    FrameReader& operator=(FrameReader&& other) noexcept;

    void feed(std::string_view bytes, std::optional<PeerCredentials> sender = std::nullopt);
    // The next whole frame, or nothing while it is incomplete; throws FrameError(oversized) as soon as
    // a header announces more than maxFrameSize, before the body arrives.
    std::optional<Frame> next();
    // Bytes of an unfinished frame are waiting.
    bool hasPartialFrame() const { return !buffer_.empty(); }
    // When the first of the waiting bytes arrived.
    std::chrono::steady_clock::time_point partialSince() const { return partialSince_; }
    // Who sent the first of the waiting bytes, and whether that sender has been admitted yet.
    std::optional<PeerCredentials> partialSender() const { return runs_.empty() ? std::nullopt : runs_.front().sender; }
    bool partialSenderAdmitted() const { return partialSenderAdmitted_; }
    void admitPartialSender() { partialSenderAdmitted_ = true; }
    BufferBudget* budget() const { return budget_; }

private:
    void charge(std::size_t held);

    struct Run {
        std::size_t length = 0;
        std::optional<PeerCredentials> sender;
    };
    std::string buffer_;
    std::deque<Run> runs_;
    std::chrono::steady_clock::time_point partialSince_{};
    std::chrono::steady_clock::time_point lastFeed_{};
    bool partialSenderAdmitted_ = false;
    BufferBudget* budget_ = nullptr;
    std::size_t charged_ = 0;
};

// The header and payload of one frame; throws FrameError(oversized) for a payload over the limit.
std::string encodeFrame(std::string_view payload);

// Blocking frame I/O on a connected socket. readFrame gives nothing when the peer closed cleanly
// between frames, and throws FrameError when it closed inside one or the header is oversized.
std::optional<std::string> readFrame(int fd, FrameReader& reader);
void writeFrame(int fd, std::string_view payload);

// As readFrame, with the sender of each frame from the kernel (the socket must have SO_PASSCRED set)
// and a deadline: a frame whose first byte came more than `deadline` ago throws FrameError(timedOut).
// Descriptors passed along with the bytes are closed unused. `admitSender`, when given, decides on the
// sender of a frame's first bytes before anything more of it is read or its header looked at; a sender
// it does not admit throws FrameError(refused).
using SenderCheck = std::function<bool(const std::optional<PeerCredentials>&)>;
std::optional<Frame> receiveFrame(int fd, FrameReader& reader, std::chrono::milliseconds deadline,
                                  const SenderCheck& admitSender = {});

// The process at the other end when the connection was made. Throws std::system_error.
PeerCredentials peerCredentials(int fd);

// Throws std::system_error; gives a connected descriptor (close-on-exec).
int connectTo(const std::filesystem::path& socketPath);

}  // namespace qw::HelperSocket
