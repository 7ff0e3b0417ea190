// Character rules of the crontab text, on bytes: a crontab need not be valid UTF-8, so every
// function here decodes what it can and treats any other byte as an ordinary, non-blank character.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qw::CronText {

// A tab or a Unicode space separator (general category Zs). Line feeds and carriage returns are not.
bool isWhiteSpace(char32_t c);
// A Unicode letter or number, or "_".
bool isNameCharacter(char32_t c);

// `text` without white space at either end.
std::string_view trimmed(std::string_view text);
// `text` without white space at its front.
std::string_view trimmedStart(std::string_view text);
// Every well-formed character lower-cased; other bytes kept as they are.
std::string lowercased(std::string_view text);
// A decimal integer that fits 64 bits, with an optional "+" (and "-" when `allowMinus`) in front.
std::optional<std::int64_t> integerValue(std::string_view text, bool allowMinus);

// The well-formed character at `at` and its length in bytes; nothing (length 1) for a stray byte.
std::optional<char32_t> decode(std::string_view text, std::size_t at, std::size_t& length);

}  // namespace qw::CronText
