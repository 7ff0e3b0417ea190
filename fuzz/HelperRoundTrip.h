// The helper fuzz targets' shared check: whatever decodes must survive encoding unchanged.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "helperkit/HelperProtocol.h"

namespace fuzz {

template <typename Message>
int helperRoundTrip(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Message message;
    try {
        message = Message::fromJson(text);
    } catch (const qw::HelperDecodingError&) {
        return 0;
    }
    try {
        if (!(Message::fromJson(message.jsonData()) == message)) std::abort();
    } catch (const qw::HelperDecodingError&) {
        std::abort();
    }
    return 0;
}

}  // namespace fuzz
