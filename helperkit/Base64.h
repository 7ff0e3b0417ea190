// Standard Base64 (RFC 4648 alphabet, padded, no line breaks), for XML <data> and the helper protocol.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qw::Base64 {

std::string encode(const std::uint8_t* bytes, std::size_t size);
inline std::string encode(const std::vector<std::uint8_t>& bytes) { return encode(bytes.data(), bytes.size()); }
// Strict: padding required, no white space. Nothing when the text is not Base64.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);
// Lenient, for XML <data>: skips ASCII white space between characters.
std::optional<std::vector<std::uint8_t>> decodeIgnoringWhitespace(std::string_view text);

}  // namespace qw::Base64
