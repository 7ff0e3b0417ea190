#include "ServiceRecord.h"

#include <algorithm>
#include <csignal>

namespace qw {

namespace {

using nlohmann::json;

bool isCrashSignal(int signal)
{
    switch (signal) {
    case SIGILL: case SIGTRAP: case SIGABRT: case SIGFPE: case SIGBUS: case SIGSEGV: case SIGSYS:
        return true;
    default:
        return false;
    }
}

template <typename T>
void readOptional(const json& object, const char* key, std::optional<T>& into)
{
    const auto it = object.find(key);
    if (it != object.end() && !it->is_null())
        into = it->get<T>();
}

template <typename T>
void readValue(const json& object, const char* key, T& into)
{
    const auto it = object.find(key);
    if (it != object.end() && !it->is_null())
        into = it->get<T>();
}

template <typename T>
void writeOptional(json& object, const char* key, const std::optional<T>& value)
{
    if (value)
        object[key] = *value;
}

const char* keepAliveName(ServiceRecord::KeepAlive value)
{
    switch (value) {
    case ServiceRecord::KeepAlive::always: return "always";
    case ServiceRecord::KeepAlive::conditional: return "conditional";
    case ServiceRecord::KeepAlive::never: break;
    }
    return "never";
}

ServiceRecord recordFromJson(const std::string& label, const json& object)
{
    ServiceRecord record;
    record.label = label;
    readValue(object, "path", record.path);
    readOptional(object, "program", record.program);
    readValue(object, "arguments", record.arguments);
    readOptional(object, "workingDirectory", record.workingDirectory);
    readOptional(object, "standardOutPath", record.standardOutPath);
    readOptional(object, "standardErrorPath", record.standardErrorPath);
    readValue(object, "environment", record.environment);
    std::string keepAlive = "never";
    readValue(object, "keepAlive", keepAlive);
    record.keepAlive = keepAlive == "always"        ? ServiceRecord::KeepAlive::always
                       : keepAlive == "conditional" ? ServiceRecord::KeepAlive::conditional
                                                    : ServiceRecord::KeepAlive::never;
    readOptional(object, "successfulExit", record.successfulExit);
    readOptional(object, "crashed", record.crashed);
    readValue(object, "runAtLoad", record.runAtLoad);
    readValue(object, "machServices", record.machServices);
    readValue(object, "throttleInterval", record.throttleInterval);
    readValue(object, "calendarIntervals", record.calendarIntervals);
    readOptional(object, "pid", record.pid);
    readOptional(object, "supervisorPid", record.supervisorPid);
    readOptional(object, "supervisorPgid", record.supervisorPgid);
    readValue(object, "generation", record.generation);
    readValue(object, "runs", record.runs);
    if (const auto it = object.find("lastExit"); it != object.end() && it->is_object()) {
        if (it->contains("signal"))
            record.lastExit = ExitRecord{true, it->at("signal").get<int>()};
        else if (it->contains("code"))
            record.lastExit = ExitRecord{false, it->at("code").get<int>()};
    }
    readValue(object, "lastStart", record.lastStart);
    readValue(object, "fastExits", record.fastExits);
    readValue(object, "penaltyBox", record.penaltyBox);
    readValue(object, "spawnScheduled", record.spawnScheduled);
    return record;
}

json recordToJson(const ServiceRecord& record)
{
    json object = json::object();
    object["label"] = record.label;
    object["path"] = record.path;
    writeOptional(object, "program", record.program);
    object["arguments"] = record.arguments;
    writeOptional(object, "workingDirectory", record.workingDirectory);
    writeOptional(object, "standardOutPath", record.standardOutPath);
    writeOptional(object, "standardErrorPath", record.standardErrorPath);
    object["environment"] = record.environment;
    object["keepAlive"] = keepAliveName(record.keepAlive);
    writeOptional(object, "successfulExit", record.successfulExit);
    writeOptional(object, "crashed", record.crashed);
    object["runAtLoad"] = record.runAtLoad;
    object["machServices"] = record.machServices;
    object["throttleInterval"] = record.throttleInterval;
    if (!record.calendarIntervals.empty())
        object["calendarIntervals"] = record.calendarIntervals;
    writeOptional(object, "pid", record.pid);
    writeOptional(object, "supervisorPid", record.supervisorPid);
    writeOptional(object, "supervisorPgid", record.supervisorPgid);
    object["generation"] = record.generation;
    object["runs"] = record.runs;
    if (record.lastExit)
        object["lastExit"] = json{{record.lastExit->bySignal ? "signal" : "code", record.lastExit->value}};
    object["lastStart"] = record.lastStart;
    object["fastExits"] = record.fastExits;
    object["penaltyBox"] = record.penaltyBox;
    object["spawnScheduled"] = record.spawnScheduled;
    return object;
}

}  // namespace

std::string ServiceRecord::executable() const
{
    if (program)
        return *program;
    return arguments.empty() ? std::string() : arguments.front();
}

std::vector<std::string> ServiceRecord::argv() const
{
    if (!arguments.empty())
        return arguments;
    return {executable()};
}

bool ServiceRecord::restartsAfter(const ExitRecord& exit) const
{
    // launchd starts a Mach service again on the next message to it; with no messages to watch, the
    // stand-in starts it again once it has exited, so that the next message finds it.
    if (machServices)
        return true;
    switch (keepAlive) {
    case KeepAlive::never: return false;
    case KeepAlive::always: return true;
    case KeepAlive::conditional: break;
    }
    const bool succeeded = !exit.bySignal && exit.value == 0;
    const bool crashedNow = exit.bySignal && isCrashSignal(exit.value);
    // Conditions are alternatives: any one that holds keeps the job alive.
    if (successfulExit && *successfulExit == succeeded)
        return true;
    if (crashed && *crashed == crashedNow)
        return true;
    return false;
}

DomainState DomainState::fromJson(const json& document)
{
    DomainState state;
    if (!document.is_object())
        throw json::type_error::create(302, "a domain state is a JSON object", &document);
    readValue(document, "nextGeneration", state.nextGeneration);
    readValue(document, "disabled", state.disabled);
    if (const auto it = document.find("services"); it != document.end() && it->is_object()) {
        for (const auto& [label, object] : it->items())
            state.services.emplace(label, recordFromJson(label, object));
    }
    // Hand-written states may omit generations; never hand out one a service already holds.
    for (const auto& [label, record] : state.services)
        state.nextGeneration = std::max(state.nextGeneration, record.generation + 1);
    return state;
}

json DomainState::toJson() const
{
    json services = json::object();
    for (const auto& [label, record] : this->services)
        services[label] = recordToJson(record);
    return json{{"nextGeneration", nextGeneration}, {"disabled", disabled}, {"services", services}};
}

}  // namespace qw
