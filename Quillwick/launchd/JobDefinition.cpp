#include "Quillwick/launchd/JobDefinition.h"

#include <algorithm>

#include "Quillwick/launchd/LaunchdSchema.h"

namespace qw {

namespace {

std::vector<std::string> stringElements(const PlistValue* value) {
    std::vector<std::string> strings;
    if (!value || !value->arrayValue()) return strings;
    for (const PlistValue& element : *value->arrayValue()) {
        if (const std::string* s = element.stringPointer()) strings.push_back(*s);
    }
    return strings;
}

std::optional<PlistValue> stringArray(const std::vector<std::string>& strings) {
    if (strings.empty()) return std::nullopt;
    PlistArray array;
    array.reserve(strings.size());
    for (const std::string& s : strings) array.emplace_back(s);
    return PlistValue(std::move(array));
}

std::optional<PlistValue> optionalString(std::optional<std::string> text) {
    if (!text) return std::nullopt;
    return PlistValue(std::move(*text));
}

bool flag(const PlistValue* value) { return value && value->boolValue().value_or(false); }

// Whether launchd keeps the job alive. "OnDemand" false is how that was said before KeepAlive; a
// KeepAlive launchd can read has the last word, and one without a condition keeps nothing alive.
KeepAlive keepAliveInEffect(const JobDefinition& job) {
    const PlistValue* keepAlive = job.find("KeepAlive");
    if (keepAlive && (keepAlive->boolValue() || keepAlive->dictionaryValue())) {
        KeepAlive value = job.keepAlive();
        return value.hasNoCondition() ? KeepAlive::never() : value;
    }
    const PlistValue* onDemand = job.find("OnDemand");
    return onDemand && onDemand->boolValue() == false ? KeepAlive::always() : KeepAlive::never();
}

// When a conditional KeepAlive is a job's only start condition, launchd runs the job while a path or
// job condition holds: "while /tmp/go exists". Nothing when a condition depends on an earlier run
// (SuccessfulExit makes launchd start the job at load) or there is no such condition.
std::optional<std::string> whileClause(const KeepAlive& keepAlive) {
    if (!keepAlive.isConditional() || keepAlive.conditions().successfulExit) return std::nullopt;
    const std::vector<std::string> conditions = keepAlive.holdingConditions();
    if (conditions.empty()) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i < conditions.size(); ++i) text += (i ? " or while " : "while ") + conditions[i];
    return text;
}

void combine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

JobDefinition::JobDefinition(PlistFile file, std::optional<JobLocation> location, std::optional<std::string> loadFailure)
    : file(std::move(file)), location(std::move(location)), loadFailure(std::move(loadFailure)) {}

JobDefinition::JobDefinition(std::string label, std::optional<JobLocation> location)
    : file(PlistDictionary{{"Label", PlistValue(std::move(label))}}, PlistFormat::xml), location(std::move(location)) {}

JobDefinition JobDefinition::fromLocation(const JobLocation& location) {
    return JobDefinition(PlistFile::read(location.url), location);
}

std::optional<PlistValue> JobDefinition::operator[](std::string_view key) const { return file[key]; }

void JobDefinition::set(std::string key, std::optional<PlistValue> value) { file.set(std::move(key), std::move(value)); }

std::string JobDefinition::label() const {
    if (const PlistValue* value = find("Label"); value && value->isString()) return *value->stringPointer();
    if (location) return location->url.stem().string();
    return "";
}

void JobDefinition::setLabel(std::string label) { set("Label", PlistValue(std::move(label))); }

bool JobDefinition::disabled() const { return flag(find("Disabled")); }

void JobDefinition::setDisabled(bool disabled) { set("Disabled", PlistValue(disabled)); }

std::optional<std::string> JobDefinition::program() const {
    const PlistValue* value = find("Program");
    return value ? value->stringValue() : std::nullopt;
}

void JobDefinition::setProgram(std::optional<std::string> program) { set("Program", optionalString(std::move(program))); }

std::vector<std::string> JobDefinition::programArguments() const { return stringElements(find("ProgramArguments")); }

void JobDefinition::setProgramArguments(const std::vector<std::string>& arguments) {
    set("ProgramArguments", stringArray(arguments));
}

std::optional<std::string> JobDefinition::workingDirectory() const {
    const PlistValue* value = find("WorkingDirectory");
    return value ? value->stringValue() : std::nullopt;
}

void JobDefinition::setWorkingDirectory(std::optional<std::string> path) {
    set("WorkingDirectory", optionalString(std::move(path)));
}

std::optional<std::string> JobDefinition::userName() const {
    const PlistValue* value = find("UserName");
    return value ? value->stringValue() : std::nullopt;
}

void JobDefinition::setUserName(std::optional<std::string> name) { set("UserName", optionalString(std::move(name))); }

std::map<std::string, std::string> JobDefinition::environmentVariables() const {
    std::map<std::string, std::string> variables;
    const PlistValue* value = find("EnvironmentVariables");
    if (!value || !value->dictionaryValue()) return variables;
    for (const auto& [name, entry] : *value->dictionaryValue()) {
        if (const std::string* s = entry.stringPointer()) variables[name] = *s;
    }
    return variables;
}

void JobDefinition::setEnvironmentVariables(const std::map<std::string, std::string>& variables) {
    if (variables.empty()) {
        set("EnvironmentVariables", std::nullopt);
        return;
    }
    PlistDictionary dictionary;
    for (const auto& [name, text] : variables) dictionary.set(name, PlistValue(text));
    set("EnvironmentVariables", PlistValue(std::move(dictionary)));
}

std::optional<std::string> JobDefinition::standardOutPath() const {
    const PlistValue* value = find("StandardOutPath");
    return value ? value->stringValue() : std::nullopt;
}

void JobDefinition::setStandardOutPath(std::optional<std::string> path) {
    set("StandardOutPath", optionalString(std::move(path)));
}

std::optional<std::string> JobDefinition::standardErrorPath() const {
    const PlistValue* value = find("StandardErrorPath");
    return value ? value->stringValue() : std::nullopt;
}

void JobDefinition::setStandardErrorPath(std::optional<std::string> path) {
    set("StandardErrorPath", optionalString(std::move(path)));
}

bool JobDefinition::runAtLoad() const { return flag(find("RunAtLoad")); }

void JobDefinition::setRunAtLoad(bool runAtLoad) {
    // Switching off a key that was never there should not add a "false" line to the file.
    if (runAtLoad || find("RunAtLoad")) set("RunAtLoad", PlistValue(runAtLoad));
}

std::optional<std::int64_t> JobDefinition::startInterval() const {
    const PlistValue* value = find("StartInterval");
    return value ? value->intValue() : std::nullopt;
}

void JobDefinition::setStartInterval(std::optional<std::int64_t> seconds) {
    set("StartInterval", seconds ? std::optional<PlistValue>(PlistValue(*seconds)) : std::nullopt);
}

std::vector<std::string> JobDefinition::watchPaths() const { return stringElements(find("WatchPaths")); }

void JobDefinition::setWatchPaths(const std::vector<std::string>& paths) { set("WatchPaths", stringArray(paths)); }

std::vector<std::string> JobDefinition::queueDirectories() const { return stringElements(find("QueueDirectories")); }

void JobDefinition::setQueueDirectories(const std::vector<std::string>& paths) {
    set("QueueDirectories", stringArray(paths));
}

bool JobDefinition::startOnMount() const { return flag(find("StartOnMount")); }

bool JobDefinition::launchOnlyOnce() const { return flag(find("LaunchOnlyOnce")); }

void JobDefinition::setStartOnMount(bool startOnMount) {
    if (startOnMount || find("StartOnMount")) set("StartOnMount", PlistValue(startOnMount));
}

KeepAlive JobDefinition::keepAlive() const { return KeepAlive::fromPlistValue(find("KeepAlive")); }

void JobDefinition::setKeepAlive(const KeepAlive& keepAlive) { set("KeepAlive", keepAlive.plistValue()); }

std::vector<CalendarInterval> JobDefinition::startCalendarInterval() const {
    std::vector<CalendarInterval> intervals;
    const PlistValue* value = find("StartCalendarInterval");
    if (!value) return intervals;
    if (const PlistDictionary* dictionary = value->dictionaryValue()) {
        intervals.push_back(CalendarInterval::fromPlistDictionary(*dictionary));
    } else if (const PlistArray* array = value->arrayValue()) {
        for (const PlistValue& element : *array) {
            if (const PlistDictionary* entry = element.dictionaryValue())
                intervals.push_back(CalendarInterval::fromPlistDictionary(*entry));
        }
    }
    return intervals;
}

void JobDefinition::setStartCalendarInterval(const std::vector<CalendarInterval>& intervals) {
    if (intervals.empty()) {
        set("StartCalendarInterval", std::nullopt);
    } else if (intervals.size() == 1) {
        set("StartCalendarInterval", PlistValue(intervals.front().plistValue()));
    } else {
        PlistArray array;
        for (const CalendarInterval& interval : intervals) array.emplace_back(interval.plistValue());
        set("StartCalendarInterval", PlistValue(std::move(array)));
    }
}

std::optional<std::string> JobDefinition::executablePath() const {
    if (auto path = program()) return path;
    auto arguments = programArguments();
    if (arguments.empty()) return std::nullopt;
    return arguments.front();
}

std::string JobDefinition::command() const {
    auto arguments = programArguments();
    if (arguments.empty()) {
        if (auto path = program()) arguments.push_back(*path);
    }
    std::string text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += ' ';
        text += arguments[i];
    }
    return text;
}

std::vector<std::string> JobDefinition::logPaths() const {
    std::vector<std::string> paths;
    for (const auto& path : {standardOutPath(), standardErrorPath()}) {
        if (!path || *path == "/dev/null" || *path == "/dev/console") continue;
        if (std::find(paths.begin(), paths.end(), *path) == paths.end()) paths.push_back(*path);
    }
    return paths;
}

bool JobDefinition::isDaemon() const { return location && location->directory.isDaemon(); }

LaunchdDomain JobDefinition::domain() const {
    return isDaemon() ? LaunchdDomain::system() : LaunchdDomain::currentGUI();
}

ServiceTarget JobDefinition::serviceTarget() const { return ServiceTarget{domain(), label()}; }

bool JobDefinition::hasOnDemandTriggers() const {
    return find("MachServices") || find("Sockets") || find("LaunchEvents");
}

bool JobDefinition::hasStartTrigger() const {
    return runAtLoad() || startInterval() || !startCalendarInterval().empty() || !watchPaths().empty() ||
           !queueDirectories().empty() || startOnMount() || !keepAliveInEffect(*this).isNever() ||
           hasOnDemandTriggers();
}

bool JobDefinition::isScheduled() const { return startInterval() || !startCalendarInterval().empty(); }

bool JobDefinition::isWatching() const { return !watchPaths().empty() || !queueDirectories().empty(); }

std::vector<std::string> JobDefinition::unknownKeys() const {
    std::vector<std::string> unknown;
    for (const auto& [name, value] : file.root) {
        if (!LaunchdSchema::isKnown(name)) unknown.push_back(name);
    }
    std::sort(unknown.begin(), unknown.end());
    return unknown;
}

std::vector<std::string> JobDefinition::orderedKeys() const {
    std::vector<std::string> keys;
    for (const LaunchdSchema::Key& key : LaunchdSchema::allKeys()) {
        if (find(key.name)) keys.push_back(key.name);
    }
    auto unknown = unknownKeys();
    keys.insert(keys.end(), unknown.begin(), unknown.end());
    return keys;
}

std::string JobDefinition::scheduleSummary() const {
    std::vector<std::string> phrases;
    if (runAtLoad()) phrases.push_back(isDaemon() ? "at startup" : "at login");
    if (auto seconds = startInterval()) phrases.push_back("every " + durationText(*seconds));
    for (const CalendarInterval& interval : startCalendarInterval()) phrases.push_back(interval.summary());
    if (auto paths = watchPaths(); !paths.empty()) phrases.push_back("when " + listText(paths, "path") + " changes");
    if (auto dirs = queueDirectories(); !dirs.empty())
        phrases.push_back("while " + listText(dirs, "directory") + " is not empty");
    if (startOnMount()) phrases.push_back("whenever a disk is mounted");
    if (find("MachServices") || find("Sockets")) phrases.push_back("on demand, when something connects to it");
    if (find("LaunchEvents")) phrases.push_back("in response to system events");

    const KeepAlive keepAlive = keepAliveInEffect(*this);
    // launchd runs a LaunchOnlyOnce job a single time, kept alive or not.
    const bool once = launchOnlyOnce() && !keepAlive.isNever();
    if (phrases.empty()) {
        if (keepAlive.isNever()) return "Never — this job has nothing that would start it.";
        if (once) return "Runs as soon as it is loaded, only once until the Mac restarts.";
        if (const auto clause = whileClause(keepAlive)) return "Runs " + *clause + ".";
        // launchd starts a kept-alive job as soon as it is loaded, so KeepAlive alone is a start condition.
        return "Runs as soon as it is loaded, and " + keepAlive.summary() + ".";
    }
    std::string sentence = "Runs " + englishJoin(phrases);
    if (once) return sentence + ", only once until the Mac restarts.";
    if (!keepAlive.isNever()) sentence += ", and " + keepAlive.summary();
    return sentence + ".";
}

std::string JobDefinition::durationText(std::int64_t n) {
    auto count = [](std::int64_t value, std::string_view unit) {
        return std::to_string(value) + " " + std::string(unit);
    };
    if (n < 0) return count(n, "seconds");
    if (n == 1) return "second";
    if (n <= 59) return count(n, "seconds");
    if (n <= 3599) {
        if (n % 60 != 0) return count(n, "seconds");
        return n == 60 ? "minute" : count(n / 60, "minutes");
    }
    if (n <= 86399) {
        if (n % 3600 != 0) return count(n / 60, "minutes");
        return n == 3600 ? "hour" : count(n / 3600, "hours");
    }
    if (n % 86400 != 0) return count(n / 3600, "hours");
    return n == 86400 ? "day" : count(n / 86400, "days");
}

std::string JobDefinition::englishJoin(const std::vector<std::string>& phrases) {
    if (phrases.empty()) return "";
    if (phrases.size() == 1) return phrases.front();
    std::string text;
    for (std::size_t i = 0; i + 1 < phrases.size(); ++i) {
        if (i > 0) text += ", ";
        text += phrases[i];
    }
    return text + " and " + phrases.back();
}

std::string JobDefinition::listText(const std::vector<std::string>& items, std::string_view noun) {
    if (items.empty()) return "a " + std::string(noun);
    if (items.size() == 1) return items.front();
    return items.front() + " (and " + std::to_string(items.size() - 1) + " more)";
}

std::size_t JobDefinition::hash() const {
    std::size_t seed = file.hash();
    combine(seed, location ? 1 : 0);
    if (location) {
        combine(seed, std::hash<JobDirectory>()(location->directory));
        combine(seed, std::filesystem::hash_value(location->url));
    }
    combine(seed, loadFailure ? std::hash<std::string>()(*loadFailure) * 2 + 1 : 0);
    return seed;
}

}  // namespace qw
