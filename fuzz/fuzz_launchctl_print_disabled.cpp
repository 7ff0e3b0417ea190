// launchctl print-disabled output → disabled records.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Quillwick/launchd/DisabledOverrides.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto overrides = qw::DisabledOverrides::fromPrintDisabledOutput(text);
    (void)overrides.hash();
    return 0;
}
