// UTF-8 checks: outside text (command output, file names) is never trusted to be valid.
#pragma once

#include <string>
#include <string_view>

namespace qw::Utf8 {

bool isValid(std::string_view text);
// Every invalid sequence replaced by U+FFFD.
std::string sanitized(std::string_view bytes);

}  // namespace qw::Utf8
