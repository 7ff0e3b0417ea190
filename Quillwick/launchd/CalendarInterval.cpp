#include "Quillwick/launchd/CalendarInterval.h"

#include <fmt/format.h>

#include <array>
#include <string_view>
#include <vector>

namespace qw {

namespace {

constexpr std::array<std::string_view, 5> fieldKeys = {"Minute", "Hour", "Day", "Weekday", "Month"};

// The fields in the order of fieldKeys.
template <typename Self>
auto fields(Self& interval) {
    return std::array{&interval.minute, &interval.hour, &interval.day, &interval.weekday, &interval.month};
}

}  // namespace

CalendarInterval CalendarInterval::fromPlistDictionary(const PlistDictionary& dictionary) {
    CalendarInterval interval;
    auto targets = fields(interval);
    for (std::size_t i = 0; i < fieldKeys.size(); ++i) {
        if (const PlistValue* value = dictionary.find(fieldKeys[i])) *targets[i] = value->intValue();
    }
    return interval;
}

PlistDictionary CalendarInterval::plistValue() const {
    PlistDictionary dictionary;
    auto sources = fields(*this);
    for (std::size_t i = 0; i < fieldKeys.size(); ++i) {
        if (*sources[i]) dictionary.set(std::string(fieldKeys[i]), PlistValue(**sources[i]));
    }
    return dictionary;
}

std::string CalendarInterval::summary() const {
    std::string text;
    if (hour && minute) {
        text = fmt::format("at {:02d}:{:02d}", *hour, *minute);
    } else if (hour) {
        text = fmt::format("every minute of the {:02d}:00 hour", *hour);
    } else if (!minute) {
        text = "every minute";
    } else if (*minute != 0) {
        text = fmt::format("at {} minutes past every hour", *minute);
    } else {
        text = "on the hour";
    }

    std::vector<std::string> further;
    if (weekday) further.push_back("on " + weekdayName(*weekday));
    if (day) further.push_back(fmt::format("on day {} of the month", *day));
    if (month) further.push_back("in " + monthName(*month));
    for (std::size_t i = 0; i < further.size(); ++i) {
        text += i == 0 ? " " : ", ";
        text += further[i];
    }
    return text;
}

std::string CalendarInterval::weekdayName(std::int64_t weekday) {
    static constexpr std::array<std::string_view, 7> names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                              "Thursday", "Friday", "Saturday"};
    if (weekday == 7) weekday = 0;
    if (weekday < 0 || weekday > 6) return fmt::format("weekday {}", weekday);
    return std::string(names[static_cast<std::size_t>(weekday)]) + "s";
}

std::string CalendarInterval::monthName(std::int64_t month) {
    static constexpr std::array<std::string_view, 12> names = {"January", "February", "March",     "April",
                                                               "May",     "June",     "July",      "August",
                                                               "September", "October", "November", "December"};
    if (month < 1 || month > 12) return fmt::format("month {}", month);
    return std::string(names[static_cast<std::size_t>(month - 1)]);
}

std::size_t CalendarInterval::hash() const {
    std::size_t seed = 0;
    for (const auto* field : fields(*this)) {
        std::size_t h = *field ? std::hash<std::int64_t>()(**field) * 2 + 1 : 0;
        seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}

}  // namespace qw
