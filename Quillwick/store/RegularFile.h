// RegularFile: a file opened for reading without blocking and only when it is a regular file, so that a
// FIFO or a device under a job folder or a log path (a StandardOutPath of /dev/zero) can never stall a
// thread or feed it without end. Reads are bounded by the caller. Plain C++.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace qw {

class RegularFile {
public:
    // Whether a symbolic link at the path itself is followed or refused.
    enum class Links { follow, refuse };

    // Nothing when the path cannot be opened or is not a regular file; `reason` then says why, as a
    // sentence ("No such file or directory.", "Not a regular file.").
    static std::optional<RegularFile> open(const std::filesystem::path& path, std::string* reason = nullptr,
                                           Links links = Links::follow);

    RegularFile(RegularFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    // The size and identity (device, inode) of the open file; nothing when fstat fails.
    std::optional<std::uint64_t> size() const;
    std::optional<std::pair<dev_t, ino_t>> identity() const;
    // At most `maximum` bytes from `offset`; fewer at the end of the file. Throws std::system_error.
    std::string read(std::uint64_t offset, std::size_t maximum) const;

    // A whole file of at most `cap` bytes; a larger one, or one that cannot be read, throws
    // std::runtime_error with the reason as a sentence.
    static std::string readWhole(const std::filesystem::path& path, std::size_t cap, Links links = Links::follow);

private:
    explicit RegularFile(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace qw
