#include "Quillwick/launchd/DisabledOverrides.h"

#include "Quillwick/launchd/LaunchctlOutput.h"

namespace qw {

DisabledOverrides DisabledOverrides::fromPrintDisabledOutput(std::string_view output) {
    DisabledOverrides overrides;
    for (auto& [label, value] : LaunchctlOutput::parse(output).dictionary("disabled services"))
        overrides.entries.emplace(label, value == "disabled");
    return overrides;
}

}  // namespace qw
