// The one reading of a typed number shared by the templates and the editors: an optional single "+" or
// "-", then one or more ASCII digits and nothing else, within the signed 64-bit range.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qw {

std::optional<std::int64_t> parseDecimalInteger(std::string_view text);

}  // namespace qw
