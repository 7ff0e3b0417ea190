// DisabledOverrides: the disabled records of one launchd domain, as "launchctl print-disabled" lists
// them. launchd keeps these apart from the job files, and they outlive them.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace qw {

struct DisabledOverrides {
    std::map<std::string, bool> entries;  // label → disabled

    // The output of "print-disabled <domain>"; without a "disabled services" block, no records.
    static DisabledOverrides fromPrintDisabledOutput(std::string_view output);

    std::size_t hash() const;
    bool operator==(const DisabledOverrides&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::DisabledOverrides> {
    std::size_t operator()(const qw::DisabledOverrides& o) const noexcept { return o.hash(); }
};
