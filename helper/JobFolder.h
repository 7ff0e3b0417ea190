// File work inside one validated job folder, always through a descriptor of that folder: the last path
// component is never followed, only regular files with a single link are touched (another link may be
// someone else's file elsewhere), and a replacement is written aside, synced, given its owner and mode,
// renamed into place and the folder synced.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "helperkit/HelperSocket.h"

namespace qw {

// A refusal of the file system, as a sentence naming the file by its last component.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FileOwner {
    uid_t uid = 0;
    gid_t gid = 0;
    // root:wheel, or in a sandbox the owner of the sandbox root (there is no real root to give files to).
    static FileOwner system();
};

class JobFolder {
public:
    // As much as one reply can carry.
    static constexpr std::size_t readLimit = HelperSocket::maxContentsSize;

    explicit JobFolder(const std::filesystem::path& folder);  // throws FileError
    ~JobFolder();
    JobFolder(const JobFolder&) = delete;
    JobFolder& operator=(const JobFolder&) = delete;

    // Whether anything at all stands at the name.
    bool holds(const std::string& name) const;
    std::string read(const std::string& name) const;
    // The bytes of a file launchd would load into the system domain: one that `owner` owns and nobody
    // else may write. They are read through the descriptor that was checked; the folder being root's, the
    // file launchd then opens by path is that one. Throws with launchd's own words otherwise.
    std::string readLoadable(const std::string& name, uid_t owner) const;
    void replace(const std::string& name, std::string_view bytes, FileOwner owner, mode_t mode) const;
    void remove(const std::string& name) const;

private:
    int openRegular(const std::string& name, int flags, const char* verb, struct stat* info = nullptr) const;
    // Reads to the end, up to the limit, and closes the descriptor.
    static std::string readAll(int fd, const std::string& name);
    std::filesystem::path folder_;
    int fd_ = -1;
};

}  // namespace qw
