#include "Quillwick/launchd/DisabledOverrides.h"

#include "Quillwick/launchd/LaunchctlOutput.h"

namespace qw {

DisabledOverrides DisabledOverrides::fromPrintDisabledOutput(std::string_view output) {
    DisabledOverrides overrides;
    for (auto& [label, value] : LaunchctlOutput::parse(output).dictionary("disabled services"))
        // macOS 12 and earlier write true for a disabled service.
        overrides.entries.emplace(label, value == "disabled" || value == "true");
    return overrides;
}

std::size_t DisabledOverrides::hash() const {
    std::size_t seed = entries.size();
    for (const auto& [label, disabled] : entries) {
        seed ^= std::hash<std::string>()(label) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        seed ^= std::size_t(disabled) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}

}  // namespace qw
