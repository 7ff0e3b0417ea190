#include "helper/JobFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "helperkit/AtomicFile.h"
#include "helperkit/SystemPaths.h"

namespace qw {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* verb, const std::string& name, int error) {
    if (error == ELOOP) throw FileError(fmt::format("{} is a symbolic link; the helper does not follow links.", name));
    throw FileError(fmt::format("Could not {} {}: {}.", verb, name, std::strerror(error)));
}

[[noreturn]] void notRegular(const std::string& name) {
    throw FileError(fmt::format("{} is not a regular file.", name));
}

// Only a regular file with one link: what the helper changes or reads must be this folder's own file.
void checkKind(const std::string& name, const struct stat& info) {
    if (!S_ISREG(info.st_mode)) notRegular(name);
    if (info.st_nlink != 1)
        throw FileError(fmt::format("{} has {} hard links; the helper acts only on a file with one.", name,
                                    static_cast<unsigned long>(info.st_nlink)));
}

// Only a plain name: the folder descriptor must be the only way in.
void checkName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        throw FileError(fmt::format("“{}” is not a file name.", name));
}

}  // namespace

FileOwner FileOwner::system() {
    const SystemPaths& paths = SystemPaths::current();
    if (!paths.isSandboxed()) return {0, 0};
    struct stat info {};
    if (::stat(paths.root().c_str(), &info) != 0) return {0, 0};
    return {info.st_uid, info.st_gid};
}

JobFolder::JobFolder(const fs::path& folder) : folder_(folder) {
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) fail("open the folder", folder.filename().string(), errno);
}

JobFolder::~JobFolder() {
    if (fd_ >= 0) ::close(fd_);
}

int JobFolder::openRegular(const std::string& name, int flags, const char* verb, struct stat* found) const {
    checkName(name);
    // O_NONBLOCK: opening a FIFO must not wait for a writer before we can see it is no file.
    const int fd = ::openat(fd_, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) fail(verb, name, errno);
    struct stat own {};
    struct stat& info = found ? *found : own;
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        fail(verb, name, error);
    }
    try {
        checkKind(name, info);
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

bool JobFolder::holds(const std::string& name) const {
    checkName(name);
    struct stat info {};
    return ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string JobFolder::read(const std::string& name) const { return readAll(openRegular(name, O_RDONLY, "read"), name); }

std::string JobFolder::readLoadable(const std::string& name, uid_t owner) const {
    struct stat info {};
    const int fd = openRegular(name, O_RDONLY, "read", &info);
    if (info.st_uid != owner || (info.st_mode & 022) != 0) {
        ::close(fd);
        throw FileError(fmt::format("{}: Path had bad ownership/permissions. launchd loads a job file only when root "
                                    "owns it and nobody else may write it: repair its permissions first.",
                                    (folder_ / name).string()));
    }
    return readAll(fd, name);
}

std::string JobFolder::readAll(int fd, const std::string& name) {
    std::string bytes;
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            fail("read", name, error);
        }
        if (n == 0) break;
        if (bytes.size() + static_cast<std::size_t>(n) > readLimit) {
            ::close(fd);
            throw FileError(fmt::format("{} is larger than 16 MiB; a job file is never that large.", name));
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void JobFolder::replace(const std::string& name, std::string_view bytes, FileOwner owner, mode_t mode) const {
    checkName(name);
    // Whatever stands at the name now must be a regular file (or nothing): a link, folder or device
    // planted there is refused rather than silently replaced.
    struct stat existing {};
    if (::fstatat(fd_, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(existing.st_mode)) fail("write", name, ELOOP);
        checkKind(name, existing);
    } else if (errno != ENOENT) {
        fail("write", name, errno);
    }

    std::string aside;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        aside = asideFileName(name);
        fd = ::openat(fd_, aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) fail("write", name, errno);
    }
    if (fd < 0) fail("write", name, EEXIST);
    const auto abandon = [&](int error) {
        ::close(fd);
        ::unlinkat(fd_, aside.c_str(), 0);
        fail("write", name, error);
    };
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) abandon(errno);
    if (::fchown(fd, owner.uid, owner.gid) != 0) abandon(errno);
    if (::fchmod(fd, mode) != 0) abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlinkat(fd_, aside.c_str(), 0);
        fail("write", name, error);
    }
    if (::renameat(fd_, aside.c_str(), fd_, name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(fd_, aside.c_str(), 0);
        fail("write", name, error);
    }
    ::fsync(fd_);
}

void JobFolder::remove(const std::string& name) const {
    checkName(name);
    struct stat existing {};
    if (::fstatat(fd_, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) fail("delete", name, errno);
    if (S_ISLNK(existing.st_mode)) fail("delete", name, ELOOP);
    checkKind(name, existing);
    // Between the check and here only root can swap the entry; unlinkat never follows a link anyway.
    if (::unlinkat(fd_, name.c_str(), 0) != 0) fail("delete", name, errno);
    ::fsync(fd_);
}

}  // namespace qw
