// Supervisor: the process that runs one service's job for the stand-in launchd. launchctl starts it
// (its own executable re-run with the hidden first argument "__supervise"), detached in a session of its
// own; it starts the job, waits for it, records every start and exit in the state, restarts the job as
// KeepAlive asks, and ends when its service is gone, another supervisor owns it, or the root vanishes
// (another root laid at the same path is not its own).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "helperkit/LaunchdDomain.h"
#include "LaunchdLog.h"
#include "ServiceRecord.h"
#include "StateStore.h"

namespace qw {

class Supervisor {
public:
    static constexpr const char* modeArgument = "__supervise";

    Supervisor(std::filesystem::path root, const StateStore& store, const LaunchdLog& log);

    // launchctl side, called under the state lock: gives the record a fresh generation from `state`,
    // starts its supervisor and records the supervisor's pid and group. Returns a descriptor that
    // becomes readable once the first start is recorded (pass it to awaitStart), or -1.
    int spawn(const LaunchdDomain& domain, ServiceRecord& record, DomainState& state, const std::string& reason) const;
    // Waits, bounded, for the supervisor to record its first start; closes the descriptor.
    static void awaitStart(int descriptor, std::chrono::milliseconds timeout = std::chrono::seconds(3));

    // The supervisor process: arguments after "__supervise" (domain, label, generation, reason).
    int run(const std::vector<std::string>& arguments) const;

private:
    struct Started {
        pid_t pid = -1;
        int execError = 0;  // errno when the program could not be started
        double startTime = 0;
        std::string program;
    };
    struct Outcome {
        bool restart = false;
        double delaySeconds = 0;
        double ranSeconds = 0;
        bool penaltyBox = false;
        std::string reason = "keepalive";  // why the next start happens, as launchd logs it
    };

    std::optional<Started> start(const LaunchdDomain& domain, const std::string& label, std::int64_t generation) const;
    std::optional<ExitRecord> waitForExit(pid_t pid) const;
    Outcome recordExit(const LaunchdDomain& domain, const std::string& label, std::int64_t generation,
                       const Started& started, const ExitRecord& exit) const;
    bool stillOwns(const LaunchdDomain& domain, const std::string& label, std::int64_t generation) const;
    bool rootExists() const;

    std::filesystem::path root_;
    // The root folder this supervisor started in: another laid at the same path is not it.
    dev_t rootDevice_ = 0;
    ino_t rootInode_ = 0;
    const StateStore& store_;
    const LaunchdLog& log_;
};

}  // namespace qw
