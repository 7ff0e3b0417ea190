// ActionSettling: when a job action is over as launchd sees it. launchctl returns before a stopped
// process has exited, and launchd lists a job that failed at once with its pid until it has reaped
// it: a rescan straight after the action would show a process that is gone as running.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "Quillwick/actions/JobAction.h"
#include "helperkit/LaunchdDomain.h"

namespace qw::ActionSettling {

struct Limits {
    // The longest wait for launchd to let go of a process that is gone.
    std::chrono::milliseconds ending{5000};
    // How long a process just started is watched for failing at once.
    std::chrono::milliseconds starting{1000};
    std::chrono::milliseconds interval{40};
};

// Whether the action can start or end a process at all; only those are waited for.
bool concernsProcesses(JobAction action);

// Asks launchd about the job until it reports neither the process the action ended (`pidBefore`,
// for Stop, Restart and Unload) nor one that has exited, and a process the action started has
// outlived the starting window; or until the limits pass. Blocks: for a background thread.
void waitUntilSettled(JobAction action, const ServiceTarget& target, std::optional<std::int32_t> pidBefore,
                      const Limits& limits = {});

// A process that exists and has not exited (one that has, and is not reaped yet, has not).
bool isRunning(std::int32_t pid);

}  // namespace qw::ActionSettling
