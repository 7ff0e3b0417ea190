// JSON coding of PlistValue as one value: dates become ISO 8601 text, data Base64 text. Decoding tries
// boolean, integer, real, text, array, object in that order, so dates and data come back as strings.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "helperkit/PlistValue.h"

namespace qw {

struct PlistJsonError : std::runtime_error {
    PlistJsonError() : std::runtime_error("Not a property list value") {}
};

// A real that is not finite, or a date too far out for ISO 8601 text, has no JSON form.
struct PlistJsonEncodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

nlohmann::json plistToJson(const PlistValue& value);  // throws PlistJsonEncodingError
PlistValue plistFromJson(const nlohmann::json& json);  // throws PlistJsonError

}  // namespace qw
