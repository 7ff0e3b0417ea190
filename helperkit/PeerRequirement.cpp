#include "helperkit/PeerRequirement.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// The inode of the socket at the other end of a connected Unix socket, from the kernel's socket
// diagnostics; nothing when it cannot be told.
std::optional<ino_t> peerSocketInode(int connection) {
    struct stat own {};
    if (::fstat(connection, &own) != 0) return std::nullopt;
    const Descriptor diag(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (diag.fd < 0) return std::nullopt;
    struct {
        nlmsghdr header;
        unix_diag_req body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.body.sdiag_family = AF_UNIX;
    request.body.udiag_states = ~0u;
    request.body.udiag_ino = static_cast<std::uint32_t>(own.st_ino);
    request.body.udiag_show = UDIAG_SHOW_PEER;
    request.body.udiag_cookie[0] = request.body.udiag_cookie[1] = ~0u;  // no cookie
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return std::nullopt;
    alignas(nlmsghdr) char reply[8192];
    const ssize_t n = ::recv(diag.fd, reply, sizeof reply, 0);
    if (n <= 0) return std::nullopt;
    auto* header = reinterpret_cast<nlmsghdr*>(reply);
    if (!NLMSG_OK(header, static_cast<unsigned>(n)) || header->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;
    auto* message = static_cast<unix_diag_msg*>(NLMSG_DATA(header));
    if (message->udiag_ino != own.st_ino) return std::nullopt;
    int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *message));
    for (auto* attribute = reinterpret_cast<rtattr*>(message + 1); RTA_OK(attribute, left);
         attribute = RTA_NEXT(attribute, left)) {
        if (attribute->rta_type == UNIX_DIAG_PEER && RTA_PAYLOAD(attribute) >= sizeof(std::uint32_t))
            return *static_cast<const std::uint32_t*>(RTA_DATA(attribute));
    }
    return std::nullopt;
}

// Whether one of the process's descriptors above standard error is the socket with that inode. The
// standard streams are inherited, never closed by sealProcess, so a connection held there was not made
// by the process as it runs now.
bool holdsSocket(int folder, ino_t inode) {
    const int fds = ::openat(folder, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds < 0) return false;
    DIR* listing = ::fdopendir(fds);
    if (listing == nullptr) {
        ::close(fds);
        return false;
    }
    const std::string wanted = fmt::format("socket:[{}]", inode);
    bool held = false;
    while (const dirent* entry = ::readdir(listing)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || fd <= STDERR_FILENO) continue;
        if (linkTarget(fds, entry->d_name) == wanted) {
            held = true;
            break;
        }
    }
    ::closedir(listing);
    return held;
}

// The namespaces a peer must share with us: in another user or pid namespace it can name another
// process as the sender, in another mount namespace another file under a system library's path.
std::optional<std::string> foreignNamespace(int folder) {
    for (const char* kind : {"user", "pid", "mnt"}) {
        const std::string entry = fmt::format("ns/{}", kind);
        struct stat ours {}, theirs {};
        if (::stat(("/proc/self/" + entry).c_str(), &ours) != 0 || ::fstatat(folder, entry.c_str(), &theirs, 0) != 0)
            return fmt::format("whose {} namespace cannot be read", kind);
        if (ours.st_dev != theirs.st_dev || ours.st_ino != theirs.st_ino)
            return fmt::format("in another {} namespace", kind);
    }
    return std::nullopt;
}

// Whether the file a maps line names is the one mapped: its device ("major:minor" in hex) and inode.
bool namesMappedFile(std::string_view path, std::string_view device, std::string_view inode) {
    struct stat info {};
    if (::stat(std::string(path).c_str(), &info) != 0) return false;
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos) return false;
    const auto number = [](std::string_view text, int base) {
        const std::string digits(text);
        char* end = nullptr;
        const unsigned long long value = std::strtoull(digits.c_str(), &end, base);
        return (digits.empty() || *end != '\0') ? ~0ull : value;
    };
    return number(device.substr(0, colon), 16) == ::major(info.st_dev) &&
           number(device.substr(colon + 1), 16) == ::minor(info.st_dev) && number(inode, 10) == info.st_ino;
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

void sealProcess() {
    // A standard stream left closed would be the next descriptor handed out, a connection among them.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int opened = ::open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd) ::close(opened);
        }
    if (::close_range(3, ~0u, 0) != 0) {
        rlimit limit{};
        const rlim_t highest = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
        for (rlim_t fd = 3; fd < highest && fd < 1u << 20; ++fd) ::close(static_cast<int>(fd));
    }
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
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

bool isSystemOwner(uid_t uid) {
    if (uid == 0) return true;
    const auto owner = sandboxOwner();
    return owner && uid == *owner;
}

bool mayUseHelper(uid_t uid) { return isSystemOwner(uid) || isAdministrator(uid); }

std::optional<std::string> othersMayChange(const fs::path& path) {
    if (!path.is_absolute()) return fmt::format("{} is not an absolute path", path.string());
    const auto owner = sandboxOwner();
    const auto trusted = [&](uid_t uid) { return uid == 0 || (owner && uid == *owner); };
    // Component by component, so that each folder is judged as the kernel walks it; a link is judged by
    // the folder that holds it, and its target by a second walk of the resolved path.
    const auto walk = [&](const fs::path& walked, bool& linkSeen) -> std::optional<std::string> {
        fs::path at;
        for (auto part = walked.begin(); part != walked.end(); ++part) {
            at /= *part;
            struct stat info {};
            if (::lstat(at.c_str(), &info) != 0) return fmt::format("{} cannot be looked at: {}", at.string(), std::strerror(errno));
            if (!trusted(info.st_uid)) return fmt::format("{} belongs to uid {}, not to root", at.string(), info.st_uid);
            if (S_ISLNK(info.st_mode)) {
                linkSeen = true;
                continue;
            }
            const bool sharedFolder = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) && std::next(part) != walked.end();
            if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sharedFolder)
                return fmt::format("{} may be written by others than its owner (mode {:o})", at.string(), info.st_mode & 07777);
        }
        return std::nullopt;
    };
    bool linkSeen = false;
    if (auto why = walk(path.lexically_normal(), linkSeen)) return why;
    if (!linkSeen) return std::nullopt;
    std::error_code ec;
    const fs::path resolved = fs::canonical(path, ec);
    if (ec) return fmt::format("{} cannot be resolved: {}", path.string(), ec.message());
    return walk(resolved, linkSeen);
}

std::optional<std::string> PeerRequirement::userRefusal(const PeerCredentials& peer) const {
    if (!userAdmitted || !userAdmitted(peer.uid))
        return fmt::format("pid {} runs as uid {}, which may not use the helper", peer.pid, peer.uid);
    return std::nullopt;
}

std::optional<std::string> PeerRequirement::refusal(const PeerCredentials& peer, int connection) const {
    if (peer.pid <= 0) return fmt::format("a process of uid {} that the kernel did not name", peer.uid);
    if (auto refused = userRefusal(peer)) return refused;
    const std::string who = fmt::format("pid {} (uid {})", peer.pid, peer.uid);
    const std::string gone = who + " is gone";
    if (validateLibraries && ::geteuid() != 0) {
        if (peer.uid == ::geteuid()) return std::nullopt;
        return fmt::format("{} is not of uid {}, the only one a helper not run as root serves", who, ::geteuid());
    }

    // The process is pinned before it is looked at: its /proc folder is opened while a pidfd shows it
    // still alive, and every read through that folder fails once it is gone, so a newcomer given the
    // same pid is never read in its place.
    const Descriptor process(pidfdOpen(peer.pid));
    if (process.fd < 0) return gone;
    const Descriptor folder(::open(fmt::format("/proc/{}", peer.pid).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0 || !stillRunning(process.fd)) return gone;
    if (validateLibraries)
        if (auto foreign = foreignNamespace(folder.fd)) return fmt::format("{} is {}", who, *foreign);

    struct stat expected {}, running {};
    if (::stat(executable.c_str(), &expected) != 0) return fmt::format("{} cannot be found", executable.string());
    if (::fstatat(folder.fd, "exe", &running, 0) != 0) return who + " runs an executable that cannot be read";
    const std::string runningPath = linkTarget(folder.fd, "exe");
    if (running.st_dev != expected.st_dev || running.st_ino != expected.st_ino)
        return fmt::format("{} runs {}, not {}", who, runningPath, executable.string());
    if (!validateLibraries) return std::nullopt;

    // The kernel hands a non-dumpable process's entries to root. The application makes itself so only
    // after closing every descriptor it inherited, so a process seen non-dumpable here that holds the
    // connection (checked last) held it as the application, not as a program that sent and then exec'd it.
    struct stat entry {};
    if (::fstatat(folder.fd, "environ", &entry, 0) != 0) return gone;
    if (entry.st_uid != 0) return who + " is dumpable, so its own user may write into its memory";

    const auto environment = readEntry(folder.fd, "environ", 16u << 20);
    if (!environment) return who + " cannot be inspected";
    for (std::size_t at = 0; at < environment->size();) {
        const std::size_t end = std::min(environment->find('\0', at), environment->size());
        const std::string_view item = std::string_view(*environment).substr(at, end - at);
        if (startsWith(item, "LD_"))
            return fmt::format("{} has {} in its environment", who, item.substr(0, item.find('=')));
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
        if (rest.front() == '/' && !namesMappedFile(rest, fields[3], fields[4]))
            return fmt::format("{} has another file than {} mapped for execution under its name", who, rest);
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
    if (connection >= 0) {
        const auto peerSocket = peerSocketInode(connection);
        if (!peerSocket) return "the other end of the connection cannot be told";
        if (!holdsSocket(folder.fd, *peerSocket)) return who + " does not hold the connection it sent on";
    }
    if (!stillRunning(process.fd)) return gone;
    return std::nullopt;
}

}  // namespace qw::HelperSocket
