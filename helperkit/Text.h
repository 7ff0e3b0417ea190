// Small text helpers for reading tools' output.
#pragma once

#include <string_view>

namespace qw::Text {

// `text` without the given characters at either end (spaces and tabs by default).
inline std::string_view trimmed(std::string_view text, std::string_view characters = " \t") {
    const auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

}  // namespace qw::Text
