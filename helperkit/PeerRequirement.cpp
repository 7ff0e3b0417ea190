#include "helperkit/PeerRequirement.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "helperkit/SystemPaths.h"

namespace qw::HelperSocket {

namespace fs = std::filesystem;

namespace {

// The folders a system's shared libraries live in; a file under them is the system's, not a user's.
constexpr std::string_view systemLibraryFolders[] = {"/usr/lib/", "/lib/", "/usr/lib64/", "/lib64/",
                                                    "/usr/lib32/", "/lib32/", "/usr/libx32/", "/libx32/"};

// Straight to the kernel: glibc 2.36 declares these without C linkage for C++.
int pidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
// Another user's process may not be signalled, but the refusal proves it is there.
bool stillRunning(int pidfd) { return ::syscall(SYS_pidfd_send_signal, pidfd, 0, nullptr, 0) == 0 || errno == EPERM; }

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value) : fd(value) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// A whole file of the process's /proc folder; nothing when it cannot be read or is larger than `limit`.
std::optional<std::string> readEntry(int folder, const char* name, std::size_t limit) {
    const Descriptor file(::openat(folder, name, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) return std::nullopt;
    std::string text;
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(file.fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > limit) return std::nullopt;
    }
}

std::string linkTarget(int folder, const char* name) {
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(folder, name, target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string("(unreadable)");
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The value of a "Name:\tvalue" line of /proc/<pid>/status.
std::string_view statusField(std::string_view status, std::string_view name) {
    for (std::size_t at = 0; at < status.size();) {
        const std::size_t end = std::min(status.find('\n', at), status.size());
        const std::string_view line = status.substr(at, end - at);
        if (startsWith(line, name) && line.size() > name.size() && line[name.size()] == ':') {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            return value;
        }
        at = end + 1;
    }
    return {};
}

// Whether code mapped from `path` may run inside the peer. `executable` is the path the kernel shows for
// the peer's own program, `bundle` the application's folder.
bool codeMayRun(std::string_view path, const std::string& executable, const std::string& bundle) {
    if (path == "[vdso]" || path == "[vsyscall]") return true;
    // A file replaced or removed since it was mapped is no longer the one on disk.
    if (path.empty() || path.front() != '/' || path.ends_with(" (deleted)")) return false;
    if (path == executable) return true;
    if (!bundle.empty() && startsWith(path, bundle + "/")) return true;
    for (std::string_view folder : systemLibraryFolders)
        if (startsWith(path, folder)) return true;
    return false;
}

}  // namespace

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

bool mayUseHelper(uid_t uid) {
    const auto owner = sandboxOwner();
    return uid == 0 || (owner && uid == *owner) || isAdministrator(uid);
}

std::optional<std::string> PeerRequirement::userRefusal(const PeerCredentials& peer) const {
    if (!userAdmitted || !userAdmitted(peer.uid))
        return fmt::format("pid {} runs as uid {}, which may not use the helper", peer.pid, peer.uid);
    return std::nullopt;
}

std::optional<std::string> PeerRequirement::refusal(const PeerCredentials& peer) const {
    if (peer.pid <= 0) return fmt::format("a process of uid {} that the kernel did not name", peer.uid);
    if (auto refused = userRefusal(peer)) return refused;
    const std::string who = fmt::format("pid {} (uid {})", peer.pid, peer.uid);
    const std::string gone = who + " is gone";

    // The process is pinned before it is looked at: its /proc folder is opened while a pidfd shows it
    // still alive, and every read through that folder fails once it is gone, so a newcomer given the
    // same pid is never read in its place.
    const Descriptor process(pidfdOpen(peer.pid));
    if (process.fd < 0) return gone;
    const Descriptor folder(::open(fmt::format("/proc/{}", peer.pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 || !stillRunning(process.fd)) return gone;

    struct stat expected {}, running {};
    if (::stat(executable.c_str(), &expected) != 0) return fmt::format("{} cannot be found", executable.string());
    if (::fstatat(folder.fd, "exe", &running, 0) != 0) return who + " runs an executable that cannot be read";
    const std::string runningPath = linkTarget(folder.fd, "exe");
    if (running.st_dev != expected.st_dev || running.st_ino != expected.st_ino)
        return fmt::format("{} runs {}, not {}", who, runningPath, executable.string());
    if (!validateLibraries) return std::nullopt;

    const auto environment = readEntry(folder.fd, "environ", 16u << 20);
    if (!environment) return who + " cannot be inspected";
    for (std::size_t at = 0; at < environment->size();) {
        const std::size_t end = std::min(environment->find('\0', at), environment->size());
        const std::string_view entry = std::string_view(*environment).substr(at, end - at);
        if (startsWith(entry, "LD_"))
            return fmt::format("{} has {} in its environment", who, entry.substr(0, entry.find('=')));
        at = end + 1;
    }

    const auto maps = readEntry(folder.fd, "maps", 64u << 20);
    if (!maps) return who + " cannot be inspected";
    std::error_code ec;
    const std::string bundleFolder = bundle.empty() ? std::string() : fs::weakly_canonical(bundle, ec).string();
    bool ownCodeSeen = false;
    for (std::size_t at = 0; at < maps->size();) {
        const std::size_t end = std::min(maps->find('\n', at), maps->size());
        const std::string_view line = std::string_view(*maps).substr(at, end - at);
        at = end + 1;
        // address perms offset device inode [path]
        std::string_view rest = line;
        std::string_view fields[5];
        for (auto& field : fields) {
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
            const std::size_t space = std::min(rest.find(' '), rest.size());
            field = rest.substr(0, space);
            rest.remove_prefix(space);
        }
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (fields[1].size() < 3 || fields[1][2] != 'x') continue;
        if (!codeMayRun(rest, runningPath, bundleFolder))
            return fmt::format("{} has {} mapped for execution", who, rest.empty() ? "anonymous memory" : rest);
        ownCodeSeen = ownCodeSeen || rest == runningPath;
    }
    // An exited process shows no memory at all; that is no proof of a clean one.
    if (!ownCodeSeen) return gone;

    const auto status = readEntry(folder.fd, "status", 1u << 20);
    if (!status) return gone;
    const std::string_view state = statusField(*status, "State");
    if (state.empty() || state.front() == 'Z' || state.front() == 'X') return gone;
    const std::string_view tracer = statusField(*status, "TracerPid");
    if (tracer != "0") return fmt::format("{} is being traced by pid {}", who, tracer);
    if (!stillRunning(process.fd)) return gone;
    return std::nullopt;
}

}  // namespace qw::HelperSocket
