#include "Quillwick/editing/model/DecimalInteger.h"

#include <charconv>

namespace qw {

namespace {

// The digits after an optional sign, or nothing when the text is not sign and digits alone.
std::optional<std::string_view> digitsOf(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    return digits;
}

template <typename Number>
std::optional<Number> whole(std::string_view number) {
    Number value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::int64_t> parseDecimalInteger(std::string_view text) {
    const auto digits = digitsOf(text);
    if (!digits) return std::nullopt;
    // from_chars takes a minus but not a plus.
    return whole<std::int64_t>(text.front() == '+' ? *digits : text);
}

std::optional<PlistValue> parsePlistInteger(std::string_view text) {
    if (auto value = parseDecimalInteger(text)) return PlistValue(*value);
    const auto digits = digitsOf(text);
    if (!digits || text.front() == '-') return std::nullopt;
    if (auto value = whole<std::uint64_t>(*digits)) return PlistValue(*value);
    return std::nullopt;
}

}  // namespace qw
