#include "ServicePrinter.h"

#include <fmt/format.h>

#include "ErrorTexts.h"

namespace qw {

namespace {

std::string joinProperties(const ServiceRecord& record)
{
    std::vector<std::string> properties;
    if (record.keepAlive != ServiceRecord::KeepAlive::never)
        properties.emplace_back("keepalive");
    if (record.runAtLoad)
        properties.emplace_back("runatload");
    if (!record.program)
        properties.emplace_back("inferred program");
    if (record.penaltyBox)
        properties.emplace_back("penalty box");
    std::string text;
    for (const auto& property : properties)
        text += (text.empty() ? "" : " | ") + property;
    return text;
}

std::string stateText(const ServiceRecord& record)
{
    if (record.pid)
        return "running";
    if (record.spawnScheduled)
        return "spawn scheduled";
    return "not running";
}

}  // namespace

std::string ServicePrinter::statusColumn(const ServiceRecord& record)
{
    if (!record.lastExit)
        return "-";
    return std::to_string(record.lastExit->bySignal ? -record.lastExit->value : record.lastExit->value);
}

std::string ServicePrinter::lastExitCode(const ServiceRecord& record)
{
    if (!record.lastExit)
        return "(never exited)";
    if (record.lastExit->bySignal)
        return std::to_string(-record.lastExit->value);
    if (const auto symbol = ErrorTexts::exitSymbol(record.lastExit->value))
        return fmt::format("{}: {}", record.lastExit->value, *symbol);
    return std::to_string(record.lastExit->value);
}

std::string ServicePrinter::list(const DomainState& state)
{
    std::string text = "PID\tStatus\tLabel\n";
    for (const auto& [label, record] : state.services)
        text += fmt::format("{}\t{}\t{}\n", record.pid ? std::to_string(*record.pid) : "-", statusColumn(record), label);
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
    text += "\targuments = {\n";
    for (const auto& argument : record.argv())
        text += fmt::format("\t\t{}\n", argument);
    text += "\t}\n\n";
    if (record.workingDirectory)
        text += fmt::format("\tworking directory = {}\n\n", *record.workingDirectory);
    if (record.standardOutPath)
        text += fmt::format("\tstdout path = {}\n", *record.standardOutPath);
    if (record.standardErrorPath)
        text += fmt::format("\tstderr path = {}\n", *record.standardErrorPath);
    if (!record.environment.empty()) {
        text += "\tenvironment = {\n";
        for (const auto& [name, value] : record.environment)
            text += fmt::format("\t\t{} => {}\n", name, value);
        text += "\t}\n";
    }
    text += "\n";
    text += fmt::format("\tdomain = {}\n", domain.description());
    text += fmt::format("\truns = {}\n", record.runs);
    if (record.pid)
        text += fmt::format("\tpid = {}\n", *record.pid);
    text += fmt::format("\tlast exit code = {}\n", lastExitCode(record));
    if (record.lastExit && record.lastExit->bySignal)
        text += fmt::format("\tlast terminating signal = {}\n", ErrorTexts::signalDescription(record.lastExit->value));
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
