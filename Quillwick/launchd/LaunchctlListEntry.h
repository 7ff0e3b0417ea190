// LaunchctlListEntry: one line of "launchctl list" — a label, its process if it has one, and how it last
// ended. A "-" status means the job never exited, not that it failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Quillwick/launchd/RuntimeState.h"

namespace qw {

struct LaunchctlListEntry {
    std::string label;
    std::optional<std::int32_t> pid;
    std::optional<RuntimeState::ExitStatus> lastExit;

    // The whole output of "list", header included, in line order; lines that are not entries are skipped.
    static std::vector<LaunchctlListEntry> parse(std::string_view output);
    // The rows of the "services = {" block of a domain's "print" ("system = {" …): pid (0 is no
    // process), the status column read as "list" reads it ("-" never exited; launchd's "(pe)" and
    // other words are no status), label. Tabs or spaces between the columns; anything else in the
    // output is ignored.
    static std::vector<LaunchctlListEntry> parseDomainServices(std::string_view output);

    std::size_t hash() const;
    bool operator==(const LaunchctlListEntry&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::LaunchctlListEntry> {
    std::size_t operator()(const qw::LaunchctlListEntry& e) const noexcept { return e.hash(); }
};
