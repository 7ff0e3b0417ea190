// Crontab text → lines → text → lines: the text comes back as it was (with a final line feed), the
// second reading gives the same lines as the first, and the text written from them is a fixed point.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Quillwick/cron/Crontab.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const qw::Crontab first = qw::Crontab::parsing(text);
    const std::string written = first.text();
    if (written != text && written != std::string(text) + "\n") __builtin_trap();
    const qw::Crontab second = qw::Crontab::parsing(written);
    if (!(second == first)) __builtin_trap();
    if (second.text() != written) __builtin_trap();
    for (const auto& job : first.jobs()) {
        (void)job.description();
        (void)job.schedule.neverRuns();
        if (job.command.empty()) __builtin_trap();
    }
    (void)first.environment();
    return 0;
}
