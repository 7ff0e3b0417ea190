#include "LinkedRoot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace qw {

namespace fs = std::filesystem;

namespace {

// What a shell would have run for a bare name: the first executable match on PATH.
fs::path invokedPath(std::string_view invokedAs)
{
    const std::string name(invokedAs);
    if (name.find('/') != std::string::npos)
        return fs::absolute(name).lexically_normal();
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "";
    for (std::size_t begin = 0; begin <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', begin), folders.size());
        const std::string folder = folders.substr(begin, end - begin);
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return fs::absolute(candidate).lexically_normal();
        begin = end + 1;
    }
    return {};
}

}  // namespace

void adoptLinkedRoot(const char* invokedAs, std::string_view macPath)
{
    const char* set = std::getenv("QUILLWICK_ROOT");
    if ((set && *set) || !invokedAs || !*invokedAs)
        return;
    std::error_code error;
    fs::path at = invokedPath(invokedAs);
    // Only a link: the tool's own file in the build folder is no machine's.
    if (at.empty() || !fs::is_symlink(at, error))
        return;
    const fs::path mac = fs::path(macPath).relative_path();
    std::vector<fs::path> names(mac.begin(), mac.end());
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (at.filename() != *name)
            return;
        at = at.parent_path();
    }
    if (at.empty() || at == at.root_path() || !fs::is_directory(at, error))
        return;
    ::setenv("QUILLWICK_ROOT", at.c_str(), 1);
}

}  // namespace qw
