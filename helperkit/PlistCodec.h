// Our own property-list codec: reads XML, binary (bplist00) and the old text form and says which it
// read; writes XML in the platform's layout and binary. Hostile input is refused, never trusted:
// bounds, cycles, nesting depth (512) and 64-bit integer range are all checked.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "helperkit/PlistValue.h"

namespace qw {

enum class PlistFormat { xml, binary, openStep };

struct PlistParseError : std::runtime_error {
    using std::runtime_error::runtime_error;  // what(): the reader's own description
};

struct PlistWriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace PlistCodec {

struct Parsed {
    PlistValue value;
    PlistFormat format;
    // The top-level object is of no property-list kind (a binary null or UID); `value` is then
    // meaningless. Nested ones are simply left out of their container.
    bool empty = false;
};

inline constexpr int maxDepth = 512;  // containers nested deeper make the input unreadable

// Detects the format from the bytes; throws PlistParseError.
Parsed read(std::string_view bytes);

// Writers throw PlistWriteError for what the format cannot hold (a date too far out for XML text,
// nesting deeper than maxDepth). The dictionary forms write a job's root without copying it.
std::string writeXml(const PlistValue& value);
std::string writeXml(const PlistDictionary& root);
std::string writeBinary(const PlistValue& value);
std::string writeBinary(const PlistDictionary& root);
// Throws PlistWriteError for openStep, which cannot be written.
std::string write(const PlistValue& value, PlistFormat format);
std::string write(const PlistDictionary& root, PlistFormat format);

}  // namespace PlistCodec
}  // namespace qw
