#include "helperkit/JobDirectory.h"

#include "helperkit/SystemPaths.h"

namespace qw {

std::optional<JobDirectory> JobDirectory::fromRawValue(std::string_view raw) {
    for (JobDirectory d : all())
        if (d.rawValue() == raw) return d;
    return std::nullopt;
}

std::string_view JobDirectory::rawValue() const {
    switch (value_) {
    case userAgents: return "userAgents";
    case globalAgents: return "globalAgents";
    case globalDaemons: return "globalDaemons";
    case systemAgents: return "systemAgents";
    case systemDaemons: break;
    }
    return "systemDaemons";
}

std::string_view JobDirectory::title() const {
    switch (value_) {
    case userAgents: return "User Agents";
    case globalAgents: return "Global Agents";
    case globalDaemons: return "Global Daemons";
    case systemAgents: return "System Agents";
    case systemDaemons: break;
    }
    return "System Daemons";
}

std::string_view JobDirectory::blurb() const {
    switch (value_) {
    case userAgents: return "Runs as you, when you are logged in. Only you can see these.";
    case globalAgents: return "Runs as each user who logs in, for everyone on this Mac.";
    case globalDaemons: return "Runs as root at startup, whether or not anyone is logged in.";
    case systemAgents:
    case systemDaemons: break;
    }
    return "Part of macOS. Quillwick shows these but never changes them.";
}

JobDirectory::Writability JobDirectory::writability() const {
    switch (value_) {
    case userAgents: return Writability::direct;
    case globalAgents:
    case globalDaemons: return Writability::requiresElevation;
    case systemAgents:
    case systemDaemons: break;
    }
    return Writability::never;
}

LaunchdDomain JobDirectory::domain() const { return isDaemon() ? LaunchdDomain::system() : LaunchdDomain::currentGUI(); }

std::filesystem::path JobDirectory::url() const {
    const SystemPaths& paths = SystemPaths::current();
    switch (value_) {
    case userAgents: return paths.userLaunchAgents();
    case globalAgents: return paths.resolve("/Library/LaunchAgents");
    case globalDaemons: return paths.resolve("/Library/LaunchDaemons");
    case systemAgents: return paths.resolve("/System/Library/LaunchAgents");
    case systemDaemons: break;
    }
    return paths.resolve("/System/Library/LaunchDaemons");
}

}  // namespace qw
