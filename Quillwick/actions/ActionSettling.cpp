#include "Quillwick/actions/ActionSettling.h"

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <thread>

#include "Quillwick/launchd/Launchctl.h"

namespace qw::ActionSettling {

namespace {

bool ends(JobAction action) {
    return action == JobAction::stop || action == JobAction::restart || action == JobAction::unload;
}

bool starts(JobAction action) {
    return action == JobAction::start || action == JobAction::restart || action == JobAction::load;
}

std::optional<std::int32_t> reportedPid(const ServiceTarget& target) {
    try {
        if (const auto state = Launchctl().print(target))
            return state->pid;
    } catch (const Subprocess::Failure&) {
    }
    return std::nullopt;
}

}  // namespace

bool concernsProcesses(JobAction action) { return ends(action) || starts(action); }

bool isRunning(std::int32_t pid) {
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno != EPERM)
        return false;
    // Where the kernel shows it, an exited process waiting to be reaped is not running.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto end = line.rfind(')');
    return end == std::string::npos || end + 2 >= line.size() || (line[end + 2] != 'Z' && line[end + 2] != 'X');
}

void waitUntilSettled(JobAction action, const ServiceTarget& target, std::optional<std::int32_t> pidBefore,
                      const Limits& limits) {
    if (!concernsProcesses(action))
        return;
    using Clock = std::chrono::steady_clock;
    const auto begun = Clock::now();
    const auto giveUp = begun + limits.ending;
    const auto watchedUntil = begun + (starts(action) ? limits.starting : std::chrono::milliseconds(0));
    const std::int32_t ended = ends(action) ? pidBefore.value_or(0) : 0;
    for (;;) {
        const std::optional<std::int32_t> pid = reportedPid(target);
        if (!pid)
            return;
        const bool gone = (ended > 0 && *pid == ended) || !isRunning(*pid);
        const auto now = Clock::now();
        if (!gone && now >= watchedUntil)
            return;
        if (now >= giveUp)
            return;
        std::this_thread::sleep_for(limits.interval);
    }
}

}  // namespace qw::ActionSettling
