#include "Quillwick/editing/model/JobTemplate.h"

#include "Quillwick/editing/model/DecimalInteger.h"
#include "helperkit/SystemPaths.h"

namespace qw {

namespace {

using Values = JobTemplate::Values;
using Kind = JobTemplate::Parameter::Kind;

std::string valueOf(const Values& values, const std::string& id) {
    auto it = values.find(id);
    return it == values.end() ? std::string() : it->second;
}

std::optional<std::int64_t> integerOf(const Values& values, const std::string& id) {
    auto it = values.find(id);
    if (it == values.end()) return std::nullopt;
    return parseDecimalInteger(it->second);
}

// "~" and "~/…" become the user's home; "~name" is left alone, as there is no other user's home here.
std::string expandingTilde(const std::string& path) {
    if (path == "~") return SystemPaths::current().home().string();
    if (path.starts_with("~/")) return (SystemPaths::current().home() / path.substr(2)).string();
    return path;
}

std::vector<JobTemplate::Parameter> withCommonParameters(std::vector<JobTemplate::Parameter> further) {
    std::vector<JobTemplate::Parameter> parameters{
        {"program", "Program or script",
         "The full path. launchd does not search PATH and does not use a shell, so /usr/local/bin/thing "
         "rather than thing.",
         Kind::path, "/usr/local/bin/backup", ""},
        {"arguments", "Arguments",
         "Separated by spaces. These are passed exactly as written — there is no shell, so a pipe or a "
         "wildcard would be a literal string.",
         Kind::text, "", ""},
    };
    parameters.insert(parameters.end(), further.begin(), further.end());
    return parameters;
}

JobDefinition buildLogin(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, false);
    definition.set("RunAtLoad", PlistValue(true));
    return definition;
}

JobDefinition buildInterval(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, false);
    definition.set("StartInterval", PlistValue(integerOf(values, "seconds").value_or(3600)));
    return definition;
}

JobDefinition buildSchedule(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, false);
    CalendarInterval interval;
    interval.minute = integerOf(values, "minute").value_or(0);
    // The help promises that an empty hour means every hour, so it writes no Hour at all.
    auto hour = values.find("hour");
    if (hour == values.end() || !hour->second.empty()) interval.hour = integerOf(values, "hour").value_or(9);
    interval.weekday = integerOf(values, "weekday");
    definition.setStartCalendarInterval({interval});
    return definition;
}

JobDefinition buildWatch(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, false);
    definition.set("WatchPaths", PlistValue(PlistArray{PlistValue(expandingTilde(valueOf(values, "path")))}));
    return definition;
}

JobDefinition buildServer(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, false);
    definition.set("RunAtLoad", PlistValue(true));
    definition.set("KeepAlive", PlistValue(true));
    if (std::string folder = valueOf(values, "workingDirectory"); !folder.empty())
        definition.set("WorkingDirectory", PlistValue(expandingTilde(folder)));
    definition.set("ThrottleInterval", PlistValue(10));
    return definition;
}

JobDefinition buildBoot(const std::string& label, const Values& values) {
    JobDefinition definition = JobTemplate::baseDefinition(label, values, true);
    definition.set("RunAtLoad", PlistValue(true));
    definition.set("KeepAlive", PlistValue(true));
    if (std::string user = valueOf(values, "user"); !user.empty() && user != "root")
        definition.set("UserName", PlistValue(user));
    return definition;
}

}  // namespace

JobTemplate::JobTemplate(std::string id, std::string name, std::string summary, std::string symbol,
                         JobDirectory directory, std::vector<Parameter> parameters, Builder builder)
    : id_(std::move(id)),
      name_(std::move(name)),
      summary_(std::move(summary)),
      symbol_(std::move(symbol)),
      directory_(directory),
      parameters_(std::move(parameters)),
      builder_(builder) {}

JobDefinition JobTemplate::baseDefinition(const std::string& label, const Values& values, bool daemon) {
    JobDefinition definition(label, std::nullopt);
    std::vector<std::string> arguments{valueOf(values, "program")};
    const std::string text = valueOf(values, "arguments");
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) arguments.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    definition.setProgramArguments(arguments);

    const std::filesystem::path folder =
        daemon ? SystemPaths::current().libraryLogs() / "Quillwick" : SystemPaths::current().userLogs();
    const std::string logPath = (folder / (label + ".log")).string();
    definition.set("StandardOutPath", PlistValue(logPath));
    definition.set("StandardErrorPath", PlistValue(logPath));
    definition.set("ProcessType", PlistValue("Background"));
    return definition;
}

const JobTemplate& JobTemplate::login() { return all()[0]; }
const JobTemplate& JobTemplate::interval() { return all()[1]; }
const JobTemplate& JobTemplate::schedule() { return all()[2]; }
const JobTemplate& JobTemplate::watch() { return all()[3]; }
const JobTemplate& JobTemplate::server() { return all()[4]; }
const JobTemplate& JobTemplate::boot() { return all()[5]; }

const std::vector<JobTemplate>& JobTemplate::all() {
    static const std::vector<JobTemplate> templates{
        JobTemplate("login", "Run at login", "Starts once, each time you log in.", "person.crop.circle.badge.checkmark",
                    JobDirectory::userAgents, withCommonParameters({}), buildLogin),
        JobTemplate("interval", "Run every so often", "Starts on a repeating interval for as long as you are logged in.",
                    "timer", JobDirectory::userAgents,
                    withCommonParameters({{"seconds", "Every",
                                           "In seconds. The clock runs from when the job was loaded, and a start is "
                                           "skipped rather than queued if the last run has not finished.",
                                           Kind::integer, "3600", "3600"}}),
                    buildInterval),
        JobTemplate("schedule", "Run on a schedule", "Starts at a particular time, like cron — but catches up after sleep.",
                    "calendar", JobDirectory::userAgents,
                    withCommonParameters({
                        {"hour", "Hour", "0–23. Leave empty for every hour.", Kind::integer, "9", "9"},
                        {"minute", "Minute", "0–59.", Kind::integer, "0", "0"},
                        {"weekday", "Weekday", "0–7, where 0 and 7 are both Sunday. Leave empty for every day.",
                         Kind::integer, "every day", ""},
                    }),
                    buildSchedule),
        JobTemplate("watch", "Run when a folder changes", "Starts whenever something is added to or removed from a folder.",
                    "folder.badge.gearshape", JobDirectory::userAgents,
                    withCommonParameters({{"path", "Folder to watch",
                                           "Watching a folder notices files appearing and disappearing, but not edits "
                                           "inside files already in it. The folder has to exist when the job loads.",
                                           Kind::directory, "~/Downloads", ""}}),
                    buildWatch),
        JobTemplate("server", "Keep a program running", "Starts at login and restarts the program whenever it stops.",
                    "arrow.triangle.2.circlepath", JobDirectory::userAgents,
                    withCommonParameters({{"workingDirectory", "Working directory",
                                           "Optional. The directory the program starts in.", Kind::directory, "", ""}}),
                    buildServer),
        JobTemplate("boot", "Run at startup, as root", "A system daemon: starts at boot, whether or not anyone logs in.",
                    "power", JobDirectory::globalDaemons,
                    withCommonParameters({{"user", "Run as",
                                           "Leave empty to run as root. A daemon that does not need root should say so "
                                           "here — it is the one line that limits what a bug in it can do.",
                                           Kind::text, "root", ""}}),
                    buildBoot),
    };
    return templates;
}

const JobTemplate* JobTemplate::named(std::string_view id) {
    for (const JobTemplate& t : all()) {
        if (t.id() == id) return &t;
    }
    return nullptr;
}

}  // namespace qw
