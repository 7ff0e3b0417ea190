#include "Quillwick/store/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qw {
namespace {

std::string sentence(int error) { return std::error_code(error, std::generic_category()).message() + "."; }

}  // namespace

std::optional<RegularFile> RegularFile::open(const std::filesystem::path& path, std::string* reason, Links links) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == Links::refuse ? O_NOFOLLOW : 0));
    if (fd < 0) {
        if (reason) *reason = sentence(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        if (reason) *reason = S_ISDIR(st.st_mode) ? sentence(EISDIR) : (st.st_mode ? "Not a regular file." : sentence(error));
        ::close(fd);
        return std::nullopt;
    }
    return RegularFile(fd);
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::uint64_t> RegularFile::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::pair<dev_t, ino_t>> RegularFile::identity() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return std::pair{st.st_dev, st.st_ino};
}

std::string RegularFile::read(std::uint64_t offset, std::size_t maximum) const {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < maximum) {
        const std::size_t want = std::min(sizeof buffer, maximum - bytes.size());
        const ssize_t n = ::pread(fd_, buffer, want, static_cast<off_t>(offset + bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category());
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string RegularFile::readWhole(const std::filesystem::path& path, std::size_t cap, Links links) {
    std::string reason;
    auto file = open(path, &reason, links);
    if (!file) throw std::runtime_error(reason);
    std::string bytes;
    try {
        bytes = file->read(0, cap + 1);
    } catch (const std::system_error& e) {
        throw std::runtime_error(sentence(e.code().value()));
    }
    if (bytes.size() > cap) throw std::runtime_error("The file is too large to be a job file.");
    return bytes;
}

}  // namespace qw
