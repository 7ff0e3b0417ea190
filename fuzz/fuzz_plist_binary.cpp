// Reads binary property lists through the shared round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "PlistRoundTrip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Keep the fuzzer inside the binary reader: every input gets the signature it needs to be read as one.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (bytes.compare(0, 8, "bplist00") != 0) bytes.insert(0, "bplist00");
    fuzz::checkRoundTrip(bytes);
    return 0;
}
