// Reads XML property lists through the shared round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "PlistRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fuzz::checkRoundTrip(bytes);
    return 0;
}
