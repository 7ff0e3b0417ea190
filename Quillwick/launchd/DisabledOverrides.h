// DisabledOverrides: the disabled records of one launchd domain, as "launchctl print-disabled" lists
// them. launchd keeps these apart from the job files, and they outlive them.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace qw {

struct DisabledOverrides {
    std::map<std::string, bool> entries;  // label → disabled

    // The output of "print-disabled <domain>"; without a "disabled services" block, no records.
    static DisabledOverrides fromPrintDisabledOutput(std::string_view output);

    bool operator==(const DisabledOverrides&) const = default;
};

}  // namespace qw
