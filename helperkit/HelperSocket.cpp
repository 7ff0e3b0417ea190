#include "helperkit/HelperSocket.h"

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
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

std::optional<std::string> FrameReader::next() {
    if (buffer_.size() < 4) return std::nullopt;
    const std::size_t size = announcedSize(buffer_);
    if (size > maxFrameSize) throw oversized(size);
    if (buffer_.size() - 4 < size) return std::nullopt;
    std::string frame = buffer_.substr(4, size);
    buffer_.erase(0, 4 + size);
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
        if (auto frame = reader.next()) return frame;
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

PeerCredentials peerCredentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        throw std::system_error(errno, std::generic_category(), "SO_PEERCRED");
    return {credentials.pid, credentials.uid, credentials.gid};
}

std::optional<fs::path> processExecutable(pid_t pid) {
    std::error_code ec;
    fs::path executable = fs::read_symlink(fmt::format("/proc/{}/exe", pid), ec);
    if (ec || executable.empty()) return std::nullopt;
    return executable;
}

bool isAdministrator(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
    const std::string name = entry.pw_name ? entry.pw_name : "";
    const gid_t primary = entry.pw_gid;
    for (const char* groupName : {"admin", "sudo", "wheel"}) {
        std::vector<char> groupBuffer(65536);
        group g{};
        group* result = nullptr;
        if (::getgrnam_r(groupName, &g, groupBuffer.data(), groupBuffer.size(), &result) != 0 || result == nullptr)
            continue;
        if (g.gr_gid == primary) return true;
        for (char** member = g.gr_mem; member && *member; ++member)
            if (name == *member) return true;
    }
    return false;
}

std::optional<uid_t> sandboxOwner() {
    const SystemPaths& paths = SystemPaths::current();
    if (!paths.isSandboxed()) return std::nullopt;
    struct stat info {};
    if (::stat(paths.root().c_str(), &info) != 0) return std::nullopt;
    return info.st_uid;
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

std::optional<std::string> PeerRequirement::refusal(const PeerCredentials& peer) const {
    const auto running = processExecutable(peer.pid);
    if (!running) return fmt::format("pid {} (uid {}) runs an executable that cannot be read", peer.pid, peer.uid);
    std::error_code ec;
    const fs::path expected = fs::weakly_canonical(executable, ec);
    if (ec || *running != expected)
        return fmt::format("pid {} (uid {}) runs {}, not {}", peer.pid, peer.uid, running->string(),
                           executable.string());
    if (!userAdmitted || !userAdmitted(peer.uid))
        return fmt::format("pid {} runs as uid {}, which may not use the helper", peer.pid, peer.uid);
    return std::nullopt;
}

}  // namespace qw::HelperSocket
