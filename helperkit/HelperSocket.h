// The local stand-in for the helper's Mach service: a Unix-domain stream socket carrying frames of a
// 4-byte big-endian length and that many bytes of JSON, at most 16 MiB, any number per connection. Both
// programs check who is at the other end from the kernel's peer credentials and the peer's executable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qw::HelperSocket {

inline constexpr std::size_t maxFrameSize = 16u * 1024u * 1024u;

class FrameError : public std::runtime_error {
public:
    enum class Kind { truncated, oversized, io };
    FrameError(Kind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Splits a byte stream into frames, however the bytes arrive.
class FrameReader {
public:
    void feed(std::string_view bytes) { buffer_.append(bytes); }
    // The next whole frame, or nothing while it is incomplete; throws FrameError(oversized) as soon as
    // a header announces more than maxFrameSize, before the body arrives.
    std::optional<std::string> next();
    // Bytes of an unfinished frame are waiting.
    bool hasPartialFrame() const { return !buffer_.empty(); }

private:
    std::string buffer_;
};

// The header and payload of one frame; throws FrameError(oversized) for a payload over the limit.
std::string encodeFrame(std::string_view payload);

// Blocking frame I/O on a connected socket. readFrame gives nothing when the peer closed cleanly
// between frames, and throws FrameError when it closed inside one or the header is oversized.
std::optional<std::string> readFrame(int fd, FrameReader& reader);
void writeFrame(int fd, std::string_view payload);

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};
// Throws std::system_error.
PeerCredentials peerCredentials(int fd);
// The executable a process runs, from /proc/<pid>/exe; nothing when it cannot be read.
std::optional<std::filesystem::path> processExecutable(pid_t pid);
// Member (primary or supplementary) of a group named admin, sudo or wheel.
bool isAdministrator(uid_t uid);
// The owner of the sandbox root in a sandboxed machine, which stands in for root there; nothing on a
// real machine.
std::optional<uid_t> sandboxOwner();

// Throws std::system_error; gives a connected descriptor (close-on-exec).
int connectTo(const std::filesystem::path& socketPath);

// Who may be at the other end. `executable` is compared after resolving links; `userAdmitted` decides
// on the peer's uid.
struct PeerRequirement {
    std::filesystem::path executable;
    std::function<bool(uid_t)> userAdmitted;

    // Nothing when the peer passes, else why it does not (for the log).
    std::optional<std::string> refusal(const PeerCredentials& peer) const;
};

}  // namespace qw::HelperSocket
