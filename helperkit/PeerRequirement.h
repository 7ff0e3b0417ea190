// Who may be at the other end of the helper's socket. The kernel names a peer's process (by its
// credentials on the connection, or on each message); the requirement decides from that process as it
// runs now: its executable, its user, and, for the helper's check of the application, that nothing
// foreign runs inside it, as library validation keeps foreign code out of a signed program.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace qw::HelperSocket {

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    bool operator==(const PeerCredentials&) const = default;
};

// Member (primary or supplementary) of a group named admin, sudo or wheel.
bool isAdministrator(uid_t uid);
// The owner of the sandbox root in a sandboxed machine, which stands in for root there; nothing on a
// real machine.
std::optional<uid_t> sandboxOwner();
// Whom the helper serves: root, the sandbox's owner, or an administrator.
bool mayUseHelper(uid_t uid);

struct PeerRequirement {
    // The program the peer must run, compared by device and inode.
    std::filesystem::path executable;
    std::function<bool(uid_t)> userAdmitted;
    // Also refuse a peer with a dynamic-loader variable in its environment, a tracer, or code mapped from
    // any file but the executable, the system's library folders and `bundle`. Needs the right to read
    // the peer's /proc files, which the helper has over the application and not the other way round.
    bool validateLibraries = false;
    std::filesystem::path bundle = {};

    // Nothing when the user may use the helper, else why not (for the log).
    std::optional<std::string> userRefusal(const PeerCredentials& peer) const;
    // Nothing when the peer passes every check, else why it does not (for the log). A process that is
    // gone, or whose pid is taken by another while it is looked at, does not pass.
    std::optional<std::string> refusal(const PeerCredentials& peer) const;
};

}  // namespace qw::HelperSocket
