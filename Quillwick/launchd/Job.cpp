#include "Quillwick/launchd/Job.h"

namespace qw {

namespace {

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

std::string Job::id() const {
    const std::string key = directory ? std::string(directory->rawValue()) : std::string("runtime");
    return key + ":" + label;
}

Job::Health Job::health() const {
    if (isDisabled) return Health::disabled;
    if (!status) return Health::notLoaded;
    if (status->pid) return Health::running;
    if (!status->lastExit) return Health::loadedIdle;
    if (status->lastExit->isFailure()) return Health::failed;
    return Health::loadedIdle;
}

bool Job::isSystem() const {
    return directory && (*directory == JobDirectory::systemAgents || *directory == JobDirectory::systemDaemons);
}

bool Job::isApple() const { return isSystem() || ServiceTarget::isAppleLabel(label); }

bool Job::isRegisteredByApp() const { return label.starts_with("application."); }

bool Job::isInstalled() const { return !isSystem() && !ServiceTarget::isAppleLabel(label) && !isRegisteredByApp(); }

LaunchdDomain Job::domain() const {
    if (directory && directory->isDaemon()) return LaunchdDomain::system();
    return LaunchdDomain::currentGUI();
}

std::size_t Job::hash() const {
    std::size_t seed = std::hash<std::string>()(label);
    combine(seed, definition.has_value());
    if (definition) combine(seed, definition->hash());
    combine(seed, status.has_value());
    if (status) combine(seed, status->hash());
    combine(seed, isDisabled);
    combine(seed, directory.has_value());
    if (directory) combine(seed, std::hash<std::string_view>()(directory->rawValue()));
    return seed;
}

}  // namespace qw
