// The codec's readers and writers, one per format, behind PlistCodec's format detection.
#pragma once

#include <string>
#include <string_view>

#include "helperkit/PlistCodec.h"

namespace qw::detail {

PlistCodec::Parsed readXmlPlist(std::string_view bytes);
PlistCodec::Parsed readBinaryPlist(std::string_view bytes);
PlistCodec::Parsed readTextPlist(std::string_view utf8);

void appendUtf8(std::string& out, char32_t c);
// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
void appendUtf16(std::string& out, const char16_t* units, std::size_t count);
// Keeps valid UTF-8 as it is, replaces what is not.
void makeValidUtf8(std::string& text);

}  // namespace qw::detail
