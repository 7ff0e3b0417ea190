// The application's end of the helper's socket: one connection, used by one request at a time, checked
// on connecting to be the helper from the application's own bundle. Blocking; meant for a worker thread.
// A connection that failed once stays failed, and its owner makes a new one for the next request.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "helperkit/HelperSocket.h"

namespace qw {

class HelperConnection {
public:
    // The reason the helper could not be reached or stopped answering, as a phrase.
    struct Unreachable : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // `helperComing`, asked while nothing listens, says whether launchd is starting the helper (again):
    // then connecting waits for it rather than failing.
    HelperConnection(std::filesystem::path socketPath, HelperSocket::PeerRequirement listener,
                     std::function<bool()> helperComing = {});
    ~HelperConnection();
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    // The listener the application accepts: the helper at <bundle>/Contents/MacOS/QuillwickHelper, run by
    // root (in a sandbox, by the sandbox's owner). Whose executable another user may not read, a listener
    // run by that user on a socket in a folder only that user may write is taken for the helper.
    static HelperSocket::PeerRequirement helperRequirement(const std::filesystem::path& bundle);

    // Sends one request and waits for its reply, connecting first when needed. Whichever comes first, the
    // reply or the connection breaking, decides; throws Unreachable for the second.
    std::string exchange(std::string_view request);
    bool isBroken() const { return broken_.load(); }
    // Breaks the connection; a request waiting on it ends with Unreachable.
    void invalidate();

private:
    void connect();
    bool vouchedForByFolder(const HelperSocket::PeerCredentials& peer) const;
    bool peerHungUp() const;
    [[noreturn]] void breakWith(const std::string& reason);

    std::filesystem::path socketPath_;
    HelperSocket::PeerRequirement listener_;
    std::function<bool()> helperComing_;
    std::mutex exchangeLock_;
    std::atomic<int> fd_{-1};
    std::atomic<bool> broken_{false};
    HelperSocket::FrameReader reader_;
};

}  // namespace qw
