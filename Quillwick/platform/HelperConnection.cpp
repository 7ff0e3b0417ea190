#include "Quillwick/platform/HelperConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace qw {

namespace fs = std::filesystem;

HelperConnection::HelperConnection(fs::path socketPath, HelperSocket::PeerRequirement listener)
    : socketPath_(std::move(socketPath)), listener_(std::move(listener)) {}

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

void HelperConnection::connect() {
    int fd = -1;
    // launchd may still be starting a helper registered a moment ago; give it a second to appear.
    for (int attempt = 0; fd < 0; ++attempt) {
        try {
            fd = HelperSocket::connectTo(socketPath_);
        } catch (const std::system_error& error) {
            const bool starting = error.code() == std::errc::no_such_file_or_directory ||
                                  error.code() == std::errc::connection_refused;
            if (!starting || attempt >= 50)
                breakWith("nothing is listening on " + socketPath_.string() + " (" + error.code().message() + ")");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::optional<std::string> refusal;
    try {
        refusal = listener_.refusal(HelperSocket::peerCredentials(fd));
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
    try {
        HelperSocket::writeFrame(fd_, request);
        if (auto reply = HelperSocket::readFrame(fd_, reader_)) return std::move(*reply);
    } catch (const HelperSocket::FrameError& error) {
        breakWith(std::string("the connection to the helper broke: ") + error.what());
    }
    breakWith("the helper closed the connection without replying");
}

void HelperConnection::invalidate() {
    broken_ = true;
    const int fd = fd_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace qw
