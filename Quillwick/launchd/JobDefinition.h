// JobDefinition: one launchd job file as the application understands it — the parsed property list,
// where it lies, and why it could not be read. Every typed accessor is a view over the root dictionary,
// computed on each access, so keys the application does not model are written back untouched.
// A plain value: no threads or state of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/CalendarInterval.h"
#include "Quillwick/launchd/KeepAlive.h"
#include "helperkit/JobLocation.h"
#include "helperkit/LaunchdDomain.h"
#include "helperkit/PlistFile.h"
#include "helperkit/PlistValue.h"

namespace qw {

class JobDefinition {
public:
    // A definition as the job scan builds it; one with a loadFailure has an empty root dictionary.
    explicit JobDefinition(PlistFile file, std::optional<JobLocation> location = std::nullopt,
                           std::optional<std::string> loadFailure = std::nullopt);
    // A new job: a root of only "Label", XML, no failure.
    JobDefinition(std::string label, std::optional<JobLocation> location);
    // Reads and parses the file at the location; throws PlistFile::ReadError (unreadable, not a
    // property list, not a dictionary).
    static JobDefinition fromLocation(const JobLocation& location);

    // Generic access by key: the root's value, or nothing; storing nothing removes the key.
    std::optional<PlistValue> operator[](std::string_view key) const;
    const PlistValue* find(std::string_view key) const { return file.find(key); }
    void set(std::string key, std::optional<PlistValue> value);

    // Typed keys. A value of the wrong type reads as absent, empty or false; nothing here throws.
    std::string label() const;  // "Label", else the file name without extension, else ""
    void setLabel(std::string label);
    bool disabled() const;
    void setDisabled(bool disabled);
    std::optional<std::string> program() const;
    void setProgram(std::optional<std::string> program);
    std::vector<std::string> programArguments() const;
    void setProgramArguments(const std::vector<std::string>& arguments);
    std::optional<std::string> workingDirectory() const;
    void setWorkingDirectory(std::optional<std::string> path);
    std::optional<std::string> userName() const;
    void setUserName(std::optional<std::string> name);
    std::map<std::string, std::string> environmentVariables() const;
    void setEnvironmentVariables(const std::map<std::string, std::string>& variables);
    std::optional<std::string> standardOutPath() const;
    void setStandardOutPath(std::optional<std::string> path);
    std::optional<std::string> standardErrorPath() const;
    void setStandardErrorPath(std::optional<std::string> path);
    bool runAtLoad() const;
    void setRunAtLoad(bool runAtLoad);  // false leaves an absent key absent
    std::optional<std::int64_t> startInterval() const;
    void setStartInterval(std::optional<std::int64_t> seconds);
    std::vector<std::string> watchPaths() const;
    void setWatchPaths(const std::vector<std::string>& paths);
    std::vector<std::string> queueDirectories() const;
    void setQueueDirectories(const std::vector<std::string>& paths);
    bool startOnMount() const;
    void setStartOnMount(bool startOnMount);  // false leaves an absent key absent
    bool launchOnlyOnce() const;
    KeepAlive keepAlive() const;
    void setKeepAlive(const KeepAlive& keepAlive);
    std::vector<CalendarInterval> startCalendarInterval() const;
    void setStartCalendarInterval(const std::vector<CalendarInterval>& intervals);

    // Derived, read-only.
    std::optional<std::string> executablePath() const;
    std::string command() const;
    std::vector<std::string> logPaths() const;  // output then error path, without /dev/null, /dev/console, repeats
    bool isDaemon() const;
    LaunchdDomain domain() const;
    ServiceTarget serviceTarget() const;
    bool hasStartTrigger() const;
    bool isScheduled() const;
    bool isWatching() const;
    bool hasOnDemandTriggers() const;
    // Catalogue keys in catalogue order, then the unknown ones by character code.
    std::vector<std::string> orderedKeys() const;
    std::vector<std::string> unknownKeys() const;
    // One English sentence on when the job runs.
    std::string scheduleSummary() const;

    // The pieces of the schedule sentence.
    static std::string durationText(std::int64_t seconds);                       // "5 minutes", "hour"
    static std::string englishJoin(const std::vector<std::string>& phrases);       // "A, B and C"
    static std::string listText(const std::vector<std::string>& items, std::string_view noun);  // "x (and 2 more)"

    std::size_t hash() const;
    bool operator==(const JobDefinition&) const = default;

    PlistFile file;
    std::optional<JobLocation> location;
    std::optional<std::string> loadFailure;
};

}  // namespace qw

template <>
struct std::hash<qw::JobDefinition> {
    std::size_t operator()(const qw::JobDefinition& d) const noexcept { return d.hash(); }
};
