#include "Quillwick/platform/HelperConnection.h"

#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace qw {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A helper registered a moment ago may take this long to listen.
constexpr auto startingGrace = std::chrono::seconds(1);
// At most this long while launchd says it is bringing the helper back; its throttle is ten seconds.
constexpr auto comingBackLimit = std::chrono::seconds(20);

std::string loginName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && entry.pw_name)
        return entry.pw_name;
    return "uid " + std::to_string(::geteuid());
}

}  // namespace

HelperConnection::HelperConnection(fs::path socketPath, HelperSocket::PeerRequirement listener,
                                   std::function<bool()> helperComing)
    : socketPath_(std::move(socketPath)), listener_(std::move(listener)), helperComing_(std::move(helperComing)) {}

HelperConnection::~HelperConnection() {
    if (const int fd = fd_.exchange(-1); fd >= 0) ::close(fd);
}

HelperSocket::PeerRequirement HelperConnection::helperRequirement(const fs::path& bundle) {
    const auto owner = HelperSocket::sandboxOwner();
    HelperSocket::PeerRequirement requirement;
    requirement.executable = bundle / "Contents" / "MacOS" / "QuillwickHelper";
    requirement.userAdmitted = [owner](uid_t uid) { return uid == 0 || (owner && uid == *owner); };
    return requirement;
}

bool HelperConnection::peerHungUp() const {
    pollfd probe{fd_.load(), POLLIN | POLLRDHUP, 0};
    if (::poll(&probe, 1, 0) <= 0) return false;
    // Between requests the helper sends nothing; anything readable now is its end closing.
    return (probe.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLIN)) != 0;
}

void HelperConnection::breakWith(const std::string& reason) {
    broken_ = true;
    throw Unreachable(reason);
}

// Reading the link to another user's executable takes the right to trace that process, which the
// application lacks over a helper run by root. As the platform trusts a service name only the system
// domain can register, a socket in a folder only root may write is trusted to be root's helper: the
// helper listens nowhere else.
bool HelperConnection::vouchedForByFolder(const HelperSocket::PeerCredentials& peer) const {
    if (!listener_.userAdmitted || !listener_.userAdmitted(peer.uid)) return false;
    struct stat info {};
    const std::string executable = "/proc/" + std::to_string(peer.pid) + "/exe";
    if (::stat(executable.c_str(), &info) == 0 || (errno != EACCES && errno != EPERM)) return false;
    struct stat folder {}, socket {};
    if (::lstat(socketPath_.parent_path().c_str(), &folder) != 0 || ::lstat(socketPath_.c_str(), &socket) != 0)
        return false;
    return S_ISDIR(folder.st_mode) && folder.st_uid == peer.uid && (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
           S_ISSOCK(socket.st_mode) && socket.st_uid == peer.uid;
}

void HelperConnection::connect() {
    int fd = -1;
    const auto since = Clock::now();
    auto askAgainAt = since + startingGrace;
    while (fd < 0) {
        try {
            fd = HelperSocket::connectTo(socketPath_);
        } catch (const std::system_error& error) {
            const bool starting = error.code() == std::errc::no_such_file_or_directory ||
                                  error.code() == std::errc::connection_refused;
            // Registered a moment ago, or exited and being started again by launchd, as a Mach service is
            // on the next message: either way it is worth waiting for.
            const auto now = Clock::now();
            bool waiting = starting && now < since + startingGrace;
            if (starting && !waiting && helperComing_ && now < since + comingBackLimit) {
                waiting = now < askAgainAt || helperComing_();
                askAgainAt = std::max(askAgainAt, now + std::chrono::milliseconds(250));
            }
            if (!waiting)
                breakWith("nothing is listening on " + socketPath_.string() + " (" + error.code().message() + ")");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::optional<std::string> refusal;
    try {
        const auto peer = HelperSocket::peerCredentials(fd);
        refusal = listener_.refusal(peer);
        if (refusal && vouchedForByFolder(peer)) refusal.reset();
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    if (refusal) {
        ::close(fd);
        breakWith("the program listening on " + socketPath_.string() + " is not Quillwick's helper: " + *refusal);
    }
    fd_ = fd;
}

std::string HelperConnection::exchange(std::string_view request) {
    std::lock_guard guard(exchangeLock_);
    if (broken_) throw Unreachable("the connection to the helper was closed");
    if (fd_ >= 0 && peerHungUp()) {
        // The helper went away between requests (it was restarted or stopped): this connection is over,
        // and the request goes on a new one, as after an interruption.
        ::close(fd_.exchange(-1));
        reader_ = {};
    }
    if (fd_ < 0) connect();
    std::string failure = "the helper closed the connection without replying";
    try {
        HelperSocket::writeFrame(fd_, request);
        if (auto reply = HelperSocket::readFrame(fd_, reader_)) return std::move(*reply);
    } catch (const HelperSocket::FrameError& error) {
        failure = std::string("the connection to the helper broke: ") + error.what();
    }
    // The helper hangs up on a user it does not serve without a word; say why here.
    if (!HelperSocket::mayUseHelper(::geteuid()))
        failure = "it serves administrators only, and “" + loginName() + "” is not one";
    breakWith(failure);
}

void HelperConnection::invalidate() {
    broken_ = true;
    const int fd = fd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace qw
