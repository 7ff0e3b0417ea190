#include "StateStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <fmt/format.h>

#include "helperkit/AtomicFile.h"
#include "LaunchctlFailure.h"

namespace qw {

namespace fs = std::filesystem;

StateStore::StateStore(fs::path folder) : folder_(std::move(folder)) {}

StateStore::Lock::~Lock()
{
    if (fd_ >= 0)
        ::close(fd_);  // closing drops the flock
}

StateStore::Lock StateStore::lock(std::chrono::milliseconds timeout) const
{
    // Only the folder itself: creating its parents would raise a deleted machine root again, and a
    // supervisor would then take it for its own and run on.
    std::error_code ignored;
    fs::create_directory(folder_, ignored);
    // Only its owner may open it, so no one else can hold it. A new name: an older root's lock file
    // was open to every user, and whoever opened it then could still hold it.
    const fs::path lockPath = folder_ / "changes.lock";
    // Close-on-exec: a supervisor or job inheriting the descriptor would hold the lock for its lifetime.
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot open {}: {}", lockPath.string(), std::strerror(errno)));
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot lock {}: {}", lockPath.string(), std::strerror(error)));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            throw LaunchctlFailure(35, "launchctl: the launchd state is busy; try again.");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Lock(fd);
}

fs::path StateStore::fileFor(const LaunchdDomain& domain) const
{
    std::string name = domain.description();
    for (char& c : name)
        if (c == '/')
            c = '-';
    return folder_ / (name + ".json");
}

DomainState StateStore::load(const LaunchdDomain& domain) const
{
    const fs::path path = fileFor(domain);
    std::error_code missing;
    if (!fs::exists(path, missing))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot read {}: {}", path.string(), std::strerror(errno)));
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return DomainState::fromJson(nlohmann::json::parse(text.str()));
    } catch (const nlohmann::json::exception& error) {
        throw LaunchctlFailure(EIO, fmt::format("launchctl: the launchd state {} is damaged: {}", path.string(), error.what()));
    }
}

void StateStore::save(const LaunchdDomain& domain, const DomainState& state) const
{
    const fs::path path = fileFor(domain);
    try {
        writeFileAtomically(path, state.toJson().dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n");
    } catch (const fs::filesystem_error& error) {
        throw LaunchctlFailure(EIO, fmt::format("launchctl: cannot write {}: {}", path.string(), error.what()));
    }
}

std::vector<LaunchdDomain> StateStore::storedDomains() const
{
    std::vector<LaunchdDomain> domains;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        const fs::path name = entry.path().filename();
        if (name.extension() != ".json")
            continue;
        std::string text = name.stem().string();
        if (const auto dash = text.find('-'); dash != std::string::npos)
            text[dash] = '/';
        if (const auto domain = LaunchdDomain::parse(text))
            domains.push_back(*domain);
    }
    return domains;
}

}  // namespace qw
