// ServiceRecord: one loaded service of the stand-in launchd — what its job file asked for and what has
// happened to it since. DomainState: every service and disabled record of one domain.
//
// A domain is stored as private/var/db/launchd/<domain>.json ("system.json", "gui-501.json",
// "user-501.json"):
//   { "nextGeneration": 7,
//     "disabled": { "<label>": true|false },
//     "services": { "<label>": { "label", "path", "program", "arguments": [...], "workingDirectory",
//                   "standardOutPath", "standardErrorPath", "environment": {...},
//                   "keepAlive": "never"|"always"|"conditional", "successfulExit", "crashed",
//                   "runAtLoad", "machServices", "throttleInterval",
//                   "calendarIntervals": [ {"Hour": 3, "Minute": 0}, ... ],
//                   "pid", "supervisorPid", "supervisorPgid", "generation", "runs",
//                   "lastExit": {"code": n} | {"signal": n}, "lastStart", "fastExits",
//                   "penaltyBox", "spawnScheduled" } } }
// Optional fields may be missing or null. A file written by hand (the demo machine) needs only the
// definition fields; the runtime fields default to "loaded, never ran".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qw {

struct ExitRecord {
    bool bySignal = false;
    int value = 0;  // exit code, or signal number
    bool operator==(const ExitRecord&) const = default;
};

struct ServiceRecord {
    enum class KeepAlive { never, always, conditional };

    std::string label;
    std::string path;  // the job file it was bootstrapped from
    std::optional<std::string> program;  // the Program key
    std::vector<std::string> arguments;  // the ProgramArguments key
    std::optional<std::string> workingDirectory;
    std::optional<std::string> standardOutPath;
    std::optional<std::string> standardErrorPath;
    std::map<std::string, std::string> environment;
    KeepAlive keepAlive = KeepAlive::never;
    std::optional<bool> successfulExit;  // conditional KeepAlive
    std::optional<bool> crashed;
    bool runAtLoad = false;
    bool machServices = false;
    int throttleInterval = 10;
    std::vector<std::map<std::string, std::int64_t>> calendarIntervals;  // StartCalendarInterval

    std::optional<int> pid;
    std::optional<int> supervisorPid;
    std::optional<int> supervisorPgid;
    std::int64_t generation = 0;  // which supervisor owns the service; 0 = none
    std::int64_t runs = 0;
    std::optional<ExitRecord> lastExit;
    double lastStart = 0;  // seconds since the epoch
    int fastExits = 0;
    bool penaltyBox = false;
    bool spawnScheduled = false;

    // Program, else the first of ProgramArguments.
    std::string executable() const;
    // ProgramArguments, else the program alone.
    std::vector<std::string> argv() const;
    bool startsAtLoad() const { return runAtLoad || keepAlive != KeepAlive::never || machServices; }
    // Whether an instance that ended this way is started again: as KeepAlive asks, and always for a
    // Mach service.
    bool restartsAfter(const ExitRecord& exit) const;

    bool operator==(const ServiceRecord&) const = default;
};

struct DomainState {
    std::map<std::string, ServiceRecord> services;
    std::map<std::string, bool> disabled;  // true = disabled
    std::int64_t nextGeneration = 1;

    std::int64_t takeGeneration() { return nextGeneration++; }

    // Throws nlohmann::json::exception on a malformed document.
    static DomainState fromJson(const nlohmann::json& json);
    nlohmann::json toJson() const;
};

}  // namespace qw
