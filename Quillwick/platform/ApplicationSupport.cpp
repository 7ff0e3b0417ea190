#include "Quillwick/platform/ApplicationSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "helperkit/SystemPaths.h"

namespace qw::ApplicationSupport {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

fs::path folder() { return SystemPaths::current().applicationSupport() / "Quillwick"; }
fs::path auditFile() { return folder() / "audit.json"; }
fs::path requestsFolder() { return folder() / "Requests"; }

fs::path ensureRequestsFolder() {
    const fs::path requests = requestsFolder();
    fs::create_directories(requests.parent_path());
    if (::mkdir(requests.c_str(), 0700) != 0 && errno != EEXIST) fail("Cannot create the folder", requests, errno);
    struct stat info {};
    if (::lstat(requests.c_str(), &info) != 0) fail("Cannot inspect the folder", requests, errno);
    if (!S_ISDIR(info.st_mode)) fail("The request folder is not a folder", requests, ENOTDIR);
    if (info.st_uid != ::geteuid()) fail("The request folder belongs to another user", requests, EPERM);
    if ((info.st_mode & 07777) != 0700 && ::chmod(requests.c_str(), 0700) != 0)
        fail("Cannot set the folder's permissions", requests, errno);
    return requests;
}

}  // namespace qw::ApplicationSupport
