// ProcessTools: small bounded waits on processes this launchd does not necessarily parent.
#pragma once

#include <chrono>
#include <filesystem>
#include <sys/types.h>

namespace qw {

class ProcessTools {
public:
    // Alive = exists and is not a zombie: an orphan may linger unreaped where init does not reap.
    static bool isAlive(pid_t pid);
    // True when the process is gone before the timeout.
    static bool waitUntilGone(pid_t pid, std::chrono::milliseconds timeout);
    // Whether the process runs for the sandbox root `root` (its QUILLWICK_ROOT names it): a recorded pid
    // may since have been reused by a process that is none of ours.
    static bool belongsToRoot(pid_t pid, const std::filesystem::path& root);
    // SIGTERM, then SIGKILL to its process group when it outlives `grace`; bounded in total.
    static void stop(pid_t pid, std::chrono::milliseconds grace);
};

}  // namespace qw
