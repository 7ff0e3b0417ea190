// The calendar-interval editor's five fields, in the order shown, with the bounds a typed value must
// meet, and how a typed text becomes a field's value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Quillwick/launchd/CalendarInterval.h"

namespace qw::CalendarFields {

struct Field {
    std::string_view title;
    std::optional<std::int64_t> CalendarInterval::*member;
    std::int64_t lowest;
    std::int64_t highest;
};

inline constexpr std::array<Field, 5> all = {{
    {"Hour", &CalendarInterval::hour, 0, 23},
    {"Minute", &CalendarInterval::minute, 0, 59},
    {"Day", &CalendarInterval::day, 1, 31},
    {"Weekday", &CalendarInterval::weekday, 0, 7},
    {"Month", &CalendarInterval::month, 1, 12},
}};

// Empty when unset, else the number in decimal.
std::string text(std::optional<std::int64_t> value);
// Empty text unsets; a decimal integer within the bounds is taken; anything else keeps `old`.
std::optional<std::int64_t> valueFromText(std::string_view text, const Field& field, std::optional<std::int64_t> old);
// What the add button appends: nine o'clock every day.
CalendarInterval newInterval();

}  // namespace qw::CalendarFields
