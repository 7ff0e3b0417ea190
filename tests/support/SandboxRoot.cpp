#include "support/SandboxRoot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace qw::test {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    // Short on purpose: the helper's socket lives under it, and socket paths are limited to ~100 bytes.
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qw-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    // A test may have left read-only folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

SandboxRoot::SandboxRoot() : SandboxRoot(Options{}) {}

SandboxRoot::SandboxRoot(Options options) : paths_(SystemPaths::forRoot(folder_.path()))
{
    std::vector<std::string> arguments{folder_.path().string(), "--tools", toolsDirectory().string()};
    if (options.demo)
        arguments.push_back("--demo");
    const auto result = Subprocess::run(makeRootScript().string(), arguments);
    if (!result.succeeded()) {
        // A demo half laid may already have started services; they must not outlive the failed root.
        haltLaunchd();
        throw std::runtime_error("make-root failed (" + std::to_string(result.exitStatus) + "): " + result.message());
    }
    override_.emplace(paths_);
}

SandboxRoot::~SandboxRoot()
{
    haltLaunchd();
    override_.reset();
}

Subprocess::Result SandboxRoot::launchctl(const std::vector<std::string>& arguments) const
{
    return Subprocess::run(paths_.launchctl().string(), arguments);
}

fs::path SandboxRoot::writeFile(std::string_view macPath, std::string_view contents, unsigned mode) const
{
    const fs::path target = resolve(macPath);
    fs::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        if (!out)
            throw std::runtime_error("cannot write " + target.string());
    }
    // chmod rather than the umask-filtered creation mode: tests ask for exact modes (world-writable files).
    if (::chmod(target.c_str(), static_cast<mode_t>(mode)) != 0)
        throw std::system_error(errno, std::generic_category(), "chmod " + target.string());
    return target;
}

void SandboxRoot::haltLaunchd() const
{
    if (::access(paths_.launchctl().c_str(), X_OK) != 0)
        return;
    try {
        // The root's environment is passed explicitly: this also runs after the override is gone.
        Subprocess::Environment environment;
        for (char** entry = environ; *entry; ++entry) {
            std::string_view text(*entry);
            const auto equals = text.find('=');
            if (equals != std::string_view::npos)
                environment[std::string(text.substr(0, equals))] = std::string(text.substr(equals + 1));
        }
        environment["QUILLWICK_ROOT"] = paths_.root().string();
        Subprocess::run(paths_.launchctl().string(), {"sandbox-halt"}, std::string(), environment);
    } catch (...) {
        // A root whose launchctl cannot run has nothing running to stop.
    }
}

fs::path SandboxRoot::toolsDirectory()
{
    return fs::path(QUILLWICK_BINARY_DIR) / "sandbox" / "bin";
}

fs::path SandboxRoot::makeRootScript()
{
    return fs::path(QUILLWICK_SOURCE_DIR) / "sandbox" / "make-root";
}

}  // namespace qw::test
