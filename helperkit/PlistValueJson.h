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

nlohmann::json plistToJson(const PlistValue& value);
PlistValue plistFromJson(const nlohmann::json& json);  // throws PlistJsonError

}  // namespace qw
