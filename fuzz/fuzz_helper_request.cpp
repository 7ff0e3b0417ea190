// Decodes outside bytes as a helper request.
#include "HelperRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::helperRoundTrip<qw::HelperRequest>(data, size);
}
