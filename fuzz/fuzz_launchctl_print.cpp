// launchctl print output → block tree → runtime state, and every reading the interface takes from it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Quillwick/launchd/LaunchctlOutput.h"
#include "Quillwick/launchd/RuntimeState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto top = qw::LaunchctlOutput::parse(text);
    (void)top.hash();
    if (!(top == top)) __builtin_trap();
    if (const auto state = qw::RuntimeState::fromPrintOutput(text)) {
        (void)state->summary();
        (void)state->isThrottled();
        (void)state->hash();
        if (state->lastExit) {
            (void)state->lastExit->description();
            (void)state->lastExit->explanation();
            (void)state->lastExit->isFailure();
        }
        const auto copy = *state;
        if (!(copy == *state)) __builtin_trap();
    }
    (void)qw::RuntimeState::ExitStatus::fromLastExitCode(text);
    return 0;
}
