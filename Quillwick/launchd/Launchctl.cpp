#include "Quillwick/launchd/Launchctl.h"

#include <fmt/format.h>

#include "Quillwick/launchd/LaunchctlOutput.h"
#include "helperkit/SystemPaths.h"
#include "helperkit/Text.h"

namespace qw {

namespace {

std::string_view trim(std::string_view s, const char* characters) { return Text::trimmed(s, characters); }

constexpr const char* kBlanksAndLineEnds = " \t\r\n";
constexpr const char* kBlanks = " \t";

}  // namespace

Subprocess::Result Launchctl::run(const std::vector<std::string>& arguments) const {
    return Subprocess::run(SystemPaths::current().launchctl().string(), arguments);
}

std::vector<LaunchctlListEntry> Launchctl::list() const {
    const auto result = run({"list"});
    if (result.exitStatus != 0) return {};
    return LaunchctlListEntry::parse(result.standardOutput);
}

std::vector<LaunchctlListEntry> Launchctl::printDomainServices(const LaunchdDomain& domain) const {
    const auto result = run({"print", domain.description()});
    if (result.exitStatus != 0) return {};
    return LaunchctlListEntry::parseDomainServices(result.standardOutput);
}

DisabledOverrides Launchctl::printDisabled(const LaunchdDomain& domain) const {
    const auto result = run({"print-disabled", domain.description()});
    if (result.exitStatus != 0) return {};
    return DisabledOverrides::fromPrintDisabledOutput(result.standardOutput);
}

std::optional<RuntimeState> Launchctl::print(const ServiceTarget& service) const {
    const auto result = run({"print", service.description()});
    if (result.exitStatus != 0) return std::nullopt;
    return RuntimeState::fromPrintOutput(result.standardOutput);
}

Subprocess::Result Launchctl::bootstrap(const LaunchdDomain& domain, const std::string& path) const {
    return run({"bootstrap", domain.description(), path});
}

Subprocess::Result Launchctl::bootout(const ServiceTarget& service) const {
    return run({"bootout", service.description()});
}

Subprocess::Result Launchctl::enable(const ServiceTarget& service) const {
    return run({"enable", service.description()});
}

Subprocess::Result Launchctl::disable(const ServiceTarget& service) const {
    return run({"disable", service.description()});
}

Subprocess::Result Launchctl::kickstart(const ServiceTarget& service, bool killing) const {
    if (killing) return run({"kickstart", "-k", service.description()});
    return run({"kickstart", service.description()});
}

Subprocess::Result Launchctl::kill(const std::string& signal, const ServiceTarget& service) const {
    return run({"kill", signal, service.description()});
}

std::optional<std::string> Launchctl::explain(int status) const {
    Subprocess::Result result;
    try {
        result = run({"error", std::to_string(status)});
    } catch (const Subprocess::Failure&) {
        return std::nullopt;
    }
    if (result.exitStatus != 0) return std::nullopt;
    const auto text = trim(result.standardOutput, kBlanksAndLineEnds);
    if (const auto colon = text.find(':'); colon != std::string_view::npos)
        return std::string(trim(text.substr(colon + 1), kBlanks));
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

std::string Launchctl::failureMessage(std::string_view verb, int status, std::string_view standardError) const {
    if (const auto said = trim(standardError, kBlanksAndLineEnds); !said.empty()) return std::string(said);
    if (const auto text = explain(status)) return fmt::format("{} failed: {}", verb, *text);
    return fmt::format("{} failed with status {}.", verb, status);
}

}  // namespace qw
