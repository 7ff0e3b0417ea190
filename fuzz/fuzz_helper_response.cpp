// Decodes outside bytes as a helper reply; whatever decodes must survive encoding unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "helperkit/HelperProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qw::HelperResponse reply;
    try {
        reply = qw::HelperResponse::fromJson(text);
    } catch (const qw::HelperDecodingError&) {
        return 0;
    }
    const std::string encoded = reply.jsonData();
    try {
        if (!(qw::HelperResponse::fromJson(encoded) == reply)) std::abort();
    } catch (const qw::HelperDecodingError&) {
        std::abort();
    }
    return 0;
}
