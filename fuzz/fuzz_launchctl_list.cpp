// launchctl list output, and the services rows of a domain's print → list entries.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Quillwick/launchd/LaunchctlListEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& entry : qw::LaunchctlListEntry::parse(text)) {
        if (entry.label.empty() || entry.label == "Label") __builtin_trap();
        if (entry.lastExit) {
            (void)entry.lastExit->description();
            (void)entry.lastExit->isFailure();
        }
        (void)entry.hash();
    }
    for (const auto& entry : qw::LaunchctlListEntry::parseDomainServices(text)) {
        if (entry.label.empty() || (entry.pid && *entry.pid == 0)) __builtin_trap();
        (void)entry.hash();
    }
    (void)qw::RuntimeState::ExitStatus::fromListStatus(text);
    return 0;
}
