// CalendarInterval: one entry of "StartCalendarInterval". An unset field means "any", as launchd reads
// it; ranges are not checked, so a file's odd values survive a round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "helperkit/PlistValue.h"

namespace qw {

struct CalendarInterval {
    std::optional<std::int64_t> minute;   // "Minute"
    std::optional<std::int64_t> hour;     // "Hour"
    std::optional<std::int64_t> day;      // "Day"
    std::optional<std::int64_t> weekday;  // "Weekday"
    std::optional<std::int64_t> month;    // "Month"

    // Never fails: a missing or non-numeric field, or a real that no 64-bit integer holds, stays unset.
    static CalendarInterval fromPlistDictionary(const PlistDictionary& dictionary);
    // One integer per set field; the caller wraps it in a dictionary value or an array.
    PlistDictionary plistValue() const;

    // "at 09:05 on Mondays, in March"
    std::string summary() const;
    // "Sundays" for 0 and 7, "Mondays" … "Saturdays" for 1–6, else "weekday <n>".
    static std::string weekdayName(std::int64_t weekday);
    // "January" … "December" for 1–12, else "month <n>".
    static std::string monthName(std::int64_t month);

    std::size_t hash() const;
    bool operator==(const CalendarInterval&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::CalendarInterval> {
    std::size_t operator()(const qw::CalendarInterval& c) const noexcept { return c.hash(); }
};
