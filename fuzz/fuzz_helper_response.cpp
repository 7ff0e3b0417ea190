// Decodes outside bytes as a helper reply.
#include "HelperRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::helperRoundTrip<qw::HelperResponse>(data, size);
}
