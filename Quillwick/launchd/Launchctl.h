// Launchctl: the one place that talks to launchd in the user's own rights. Builds launchctl's argument
// lists, runs the tool that SystemPaths names through Subprocess, and reads its output into records or
// a failure text. Holds no state. Every call blocks until the tool exits and throws
// Subprocess::Failure when it cannot be started (explain() gives nothing instead).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/DisabledOverrides.h"
#include "Quillwick/launchd/LaunchctlListEntry.h"
#include "Quillwick/launchd/RuntimeState.h"
#include "helperkit/LaunchdDomain.h"
#include "helperkit/Subprocess.h"

namespace qw {

class Launchctl {
public:
    // A status other than 0 reads as nothing here: no entries, no records, no state.
    std::vector<LaunchctlListEntry> list() const;
    // "print <domain>": the services of any domain, system included, with their pids and statuses.
    std::vector<LaunchctlListEntry> printDomainServices(const LaunchdDomain& domain) const;
    DisabledOverrides printDisabled(const LaunchdDomain& domain) const;
    std::optional<RuntimeState> print(const ServiceTarget& service) const;

    // The verbs hand back the tool's result unchanged; the caller judges it.
    Subprocess::Result bootstrap(const LaunchdDomain& domain, const std::string& path) const;
    Subprocess::Result bootout(const ServiceTarget& service) const;
    Subprocess::Result enable(const ServiceTarget& service) const;
    Subprocess::Result disable(const ServiceTarget& service) const;
    Subprocess::Result kickstart(const ServiceTarget& service, bool killing) const;
    Subprocess::Result kill(const std::string& signal, const ServiceTarget& service) const;

    // launchctl's own words for a status ("error <n>"), without the leading "<n>:".
    std::optional<std::string> explain(int status) const;
    // The user-facing text of a failed verb: launchctl's standard error when it said anything, else
    // "<verb> failed: <explanation>", else "<verb> failed with status <status>.".
    std::string failureMessage(std::string_view verb, int status, std::string_view standardError) const;

private:
    Subprocess::Result run(const std::vector<std::string>& arguments) const;
};

}  // namespace qw
