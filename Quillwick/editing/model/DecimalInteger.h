// The one reading of a typed number shared by the templates and the editors: an optional single "+" or
// "-", then one or more ASCII digits and nothing else, within the signed 64-bit range.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "helperkit/PlistValue.h"

namespace qw {

std::optional<std::int64_t> parseDecimalInteger(std::string_view text);
// The same reading as a property-list integer, which also goes on past the signed range up to 2^64−1:
// job files hold such numbers, and an edit must be able to write them back.
std::optional<PlistValue> parsePlistInteger(std::string_view text);

}  // namespace qw
