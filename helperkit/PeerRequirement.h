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

// What the application does first in main, so that the helper may trust what it sees of it: opens any
// standard stream left closed on /dev/null, closes every descriptor it inherited above standard error,
// then makes itself non-dumpable, which shuts its memory and ptrace to its own user. Once it is
// non-dumpable it holds no connection above standard error that it did not make.
void sealProcess();

// Member (primary or supplementary) of a group named admin, sudo or wheel.
bool isAdministrator(uid_t uid);
// The owner of the sandbox root in a sandboxed machine, which stands in for root there; nothing on a
// real machine.
std::optional<uid_t> sandboxOwner();
// Whom the helper serves: root, the sandbox's owner, or an administrator.
bool mayUseHelper(uid_t uid);
// Root, or in a sandbox also the sandbox's owner, who stands in for root there.
bool isSystemOwner(uid_t uid);

// Nothing when only the system owner can change what `path` names: the file and every folder from / down
// to it, along any symbolic link on the way too, belong to the system owner, and no group or other user may
// write any of them but a sticky folder (such as /tmp), whose entries only their owners may move. Else why
// not, naming the first path that fails. What the helper runs and serves as root must pass this, or whoever
// can change it can put their own code in its place.
std::optional<std::string> othersMayChange(const std::filesystem::path& path);

struct PeerRequirement {
    // The program the peer must run, compared by device and inode.
    std::filesystem::path executable;
    std::function<bool(uid_t)> userAdmitted;
    // Also refuse a peer in other user, pid or mount namespaces than ours, one its own user may still
    // write into (dumpable), one with a dynamic-loader variable in its environment, a tracer, or code
    // mapped from any file but the executable, the system's library folders and `bundle` (each compared
    // by device and inode with the file its path names), and one that does not hold the other end of the
    // connection above standard error. Needs root's right to read a non-dumpable peer's /proc files: run
    // as anyone else, the checks are out of reach and only a peer of our own user is admitted, which could
    // do all we do anyway.
    bool validateLibraries = false;
    std::filesystem::path bundle = {};

    // Nothing when the user may use the helper, else why not (for the log).
    std::optional<std::string> userRefusal(const PeerCredentials& peer) const;
    // Nothing when the peer passes every check, else why it does not (for the log). A process that is
    // gone, or whose pid is taken by another while it is looked at, does not pass. `connection` is our
    // end of the peer's connection, for the check that the peer holds the other end.
    std::optional<std::string> refusal(const PeerCredentials& peer, int connection = -1) const;
};

}  // namespace qw::HelperSocket
