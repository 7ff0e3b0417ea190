#include "ServicePrinter.h"

#include <fmt/format.h>

#include "ErrorTexts.h"

namespace qw {

namespace {

// In launchd's own order, which puts the penalty box among the others rather than last.
std::string joinProperties(const ServiceRecord& record)
{
    std::vector<std::string> properties;
    if (record.keepAlive != ServiceRecord::KeepAlive::never)
        properties.emplace_back("keepalive");
    if (record.runAtLoad)
        properties.emplace_back("runatload");
    if (record.penaltyBox)
        properties.emplace_back("penalty box");
    if (!record.program)
        properties.emplace_back("inferred program");
    std::string text;
    for (const auto& property : properties)
        text += (text.empty() ? "" : " | ") + property;
    return text;
}

std::string stateText(const ServiceRecord& record)
{
    if (record.pid)
        return "running";
    // Throttled after fast failures, it waits to be spawned again.
    if (record.spawnScheduled || record.penaltyBox)
        return "spawn scheduled";
    return "not running";
}

// The audit session of the user's login, which launchd names beside a gui domain.
unsigned auditSession(const LaunchdDomain& domain)
{
    return 100000 + domain.number() % 100000;
}

std::string eventTriggers(const LaunchdDomain& domain, const ServiceRecord& record)
{
    if (record.calendarIntervals.empty())
        return {};
    const bool daemon = domain.kind() == LaunchdDomain::Kind::system;
    std::string text = "\tevent triggers = {\n";
    std::uint64_t event = 268435456;
    for (const auto& fields : record.calendarIntervals) {
        text += fmt::format("\t\t{}.{} => {{\n", record.label, event++);
        text += "\t\t\tkeepalive = 0\n";
        text += fmt::format("\t\t\tservice = {}\n", record.label);
        text += "\t\t\tstream = com.apple.launchd.calendarinterval\n";
        text += fmt::format("\t\t\tmonitor = com.apple.UserEventAgent-{}\n", daemon ? "System" : "Aqua");
        text += "\t\t\tdescriptor = {\n";
        for (const auto& [key, value] : fields)
            text += fmt::format("\t\t\t\t\"{}\" => {}\n", key, value);
        text += "\t\t\t}\n\t\t}\n";
    }
    text += "\t}\n\n";
    return text;
}

}  // namespace

std::string ServicePrinter::statusColumn(const ServiceRecord& record)
{
    if (!record.lastExit)
        return "-";
    return std::to_string(record.lastExit->bySignal ? -record.lastExit->value : record.lastExit->value);
}

std::string ServicePrinter::lastExitLine(const ServiceRecord& record)
{
    if (!record.lastExit)
        return "\tlast exit code = (never exited)\n";
    // A signal death has no exit code; launchd names only the signal.
    if (record.lastExit->bySignal)
        return fmt::format("\tlast terminating signal = {}\n", ErrorTexts::signalDescription(record.lastExit->value));
    if (const auto symbol = ErrorTexts::exitSymbol(record.lastExit->value))
        return fmt::format("\tlast exit code = {}: {}\n", record.lastExit->value, *symbol);
    return fmt::format("\tlast exit code = {}\n", record.lastExit->value);
}

std::string ServicePrinter::list(const DomainState& state)
{
    std::string text = "PID\tStatus\tLabel\n";
    // Since 10.10 a service that has not exited shows 0 here, never "-".
    for (const auto& [label, record] : state.services)
        text += fmt::format("{}\t{}\t{}\n", record.pid ? std::to_string(*record.pid) : "-",
                            record.lastExit ? statusColumn(record) : "0", label);
    return text;
}

std::string ServicePrinter::service(const LaunchdDomain& domain, const ServiceRecord& record)
{
    const bool daemon = domain.kind() == LaunchdDomain::Kind::system;
    std::string text = fmt::format("{} = {{\n", ServiceTarget{domain, record.label}.description());
    text += fmt::format("\tactive count = {}\n", record.pid ? 1 : 0);
    text += fmt::format("\tpath = {}\n", record.path);
    text += fmt::format("\ttype = {}\n", daemon ? "LaunchDaemon" : "LaunchAgent");
    text += fmt::format("\tstate = {}\n\n", stateText(record));
    text += fmt::format("\tprogram = {}\n", record.executable());
    if (!record.arguments.empty()) {
        text += "\targuments = {\n";
        for (const auto& argument : record.arguments)
            text += fmt::format("\t\t{}\n", argument);
        text += "\t}\n";
    }
    text += "\n";
    if (record.workingDirectory)
        text += fmt::format("\tworking directory = {}\n\n", *record.workingDirectory);
    if (record.standardOutPath)
        text += fmt::format("\tstdout path = {}\n", *record.standardOutPath);
    if (record.standardErrorPath)
        text += fmt::format("\tstderr path = {}\n", *record.standardErrorPath);
    if (domain.kind() == LaunchdDomain::Kind::gui)
        text += "\tinherited environment = {\n"
                "\t\tSSH_AUTH_SOCK => /private/tmp/com.apple.launchd.sandbox/Listeners\n"
                "\t}\n\n";
    text += "\tdefault environment = {\n\t\tPATH => /usr/bin:/bin:/usr/sbin:/sbin\n\t}\n\n";
    auto environment = record.environment;
    environment["XPC_SERVICE_NAME"] = record.label;
    text += "\tenvironment = {\n";
    for (const auto& [name, value] : environment)
        text += fmt::format("\t\t{} => {}\n", name, value);
    text += "\t}\n\n";
    if (domain.kind() == LaunchdDomain::Kind::gui)
        text += fmt::format("\tdomain = {} [{}]\n\tasid = {}\n", domain.description(), auditSession(domain),
                            auditSession(domain));
    else
        text += fmt::format("\tdomain = {}\n", domain.description());
    text += "\tminimum runtime = 10\n\texit timeout = 5\n";
    text += fmt::format("\truns = {}\n", record.runs);
    if (record.pid)
        text += fmt::format("\tpid = {}\n", *record.pid);
    text += lastExitLine(record);
    text += "\n";
    text += eventTriggers(domain, record);
    text += "\tspawn type = daemon (3)\n";
    if (record.pid)
        text += "\tjob state = running\n";
    else if (record.lastExit)
        text += "\tjob state = exited\n";
    if (const std::string properties = joinProperties(record); !properties.empty())
        text += fmt::format("\n\tproperties = {}\n", properties);
    text += "}\n";
    return text;
}

std::string ServicePrinter::domain(const LaunchdDomain& domain, const DomainState& state)
{
    const char* type = domain.kind() == LaunchdDomain::Kind::system ? "system"
                       : domain.kind() == LaunchdDomain::Kind::gui  ? "login"
                                                                    : "background";
    int active = 0;
    for (const auto& entry : state.services)
        active += entry.second.pid ? 1 : 0;
    std::string text = fmt::format("{} = {{\n", domain.description());
    text += fmt::format("\ttype = {}\n", type);
    text += "\thandle = 0\n";
    text += fmt::format("\tactive count = {}\n", active);
    text += fmt::format("\tservice count = {}\n", state.services.size());
    text += "\tcreator = launchd[1]\n\n";
    text += "\tservices = {\n";
    for (const auto& [label, record] : state.services)
        text += fmt::format("\t\t{:>8} {:>6} \t{}\n", record.pid.value_or(0), statusColumn(record), label);
    text += "\t}\n";
    text += "}\n";
    return text;
}

std::string ServicePrinter::disabled(const DomainState& state)
{
    std::string text = "disabled services = {\n";
    for (const auto& [label, disabled] : state.disabled)
        text += fmt::format("\t\"{}\" => {}\n", label, disabled ? "disabled" : "enabled");
    text += "}\n";
    return text;
}

}  // namespace qw
