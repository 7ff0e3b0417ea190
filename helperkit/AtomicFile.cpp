#include "helperkit/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>
#include <string>

#include <fmt/format.h>

namespace qw {
namespace {

[[noreturn]] void raise(const char* what, const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

std::string asideFileName(std::string_view name) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string suffix = fmt::format(".{:016x}.tmp", random());
    // Cut at a character's first byte, so a shortened name is still valid UTF-8.
    std::size_t keep = std::min(name.size(), NAME_MAX - 1 - suffix.size());
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return "." + std::string(name.substr(0, keep)) + suffix;
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, unsigned mode) {
    if (path.filename().empty()) raise("Cannot write a file without a name", path, EISDIR);
    std::filesystem::path aside;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        aside = path.parent_path() / asideFileName(path.filename().native());
        // The kernel applies the umask to `mode`; O_NOFOLLOW keeps a planted link from redirecting us.
        fd = ::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(mode));
        if (fd < 0 && errno != EEXIST) raise("Cannot create the file", path, errno);
    }
    if (fd < 0) raise("Cannot create the file", path, EEXIST);

    auto abandon = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(aside.c_str());
        raise(what, path, error);
    };
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("Cannot write the file", errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) abandon("Cannot flush the file", errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(aside.c_str());
        raise("Cannot write the file", path, error);
    }
    if (::rename(aside.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(aside.c_str());
        raise("Cannot move the file into place", path, error);
    }
    // The rename itself is durable only once the folder is flushed too.
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

}  // namespace qw
