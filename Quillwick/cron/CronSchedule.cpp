#include "Quillwick/cron/CronSchedule.h"

#include <fmt/format.h>

#include <array>

#include "Quillwick/cron/CronText.h"

namespace qw {

namespace {

constexpr std::array<std::string_view, 12> monthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                         "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> weekdayNames = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::array<std::string_view, 7> weekdaysPlural = {"Sundays",   "Mondays", "Tuesdays", "Wednesdays",
                                                            "Thursdays", "Fridays", "Saturdays"};
constexpr std::array<std::string_view, 12> monthTitles = {"January", "February", "March",     "April",
                                                          "May",     "June",     "July",      "August",
                                                          "September", "October", "November", "December"};

template <std::size_t N>
int indexOf(const std::array<std::string_view, N>& names, std::string_view word) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i] == word) return static_cast<int>(i);
    return -1;
}

std::string joined(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ' ';
        out += fields[i];
    }
    return out;
}

void combine(std::size_t& seed, std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

}  // namespace

std::string CronSchedule::expression() const { return kind_ == Kind::special ? word_ : joined(fields_); }

std::vector<std::string_view> CronSchedule::fieldParts(std::string_view field) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= field.size(); ++i) {
        if (i == field.size() || field[i] == ',' || field[i] == '-' || field[i] == '/') {
            if (i > start) parts.push_back(field.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool CronSchedule::isValidField(std::string_view field, int index) {
    if (field.empty()) return false;
    for (const std::string_view part : fieldParts(field)) {
        const std::string lower = CronText::lowercased(part);
        if (lower == "*" || CronText::integerValue(lower, false)) continue;
        if (index == 3 && indexOf(monthNames, lower) >= 0) continue;
        if (index == 4 && indexOf(weekdayNames, lower) >= 0) continue;
        return false;
    }
    return true;
}

std::string CronSchedule::description() const {
    if (kind_ == Kind::special) {
        if (word_ == "@reboot") return "When the Mac starts up";
        if (word_ == "@yearly" || word_ == "@annually") return "Once a year, at midnight on 1 January";
        if (word_ == "@monthly") return "On the 1st of every month, at midnight";
        if (word_ == "@weekly") return "Every Sunday, at midnight";
        if (word_ == "@daily" || word_ == "@midnight") return "Every day, at midnight";
        if (word_ == "@hourly") return "Every hour, on the hour";
        return word_;
    }
    return fields_.size() == 5 ? fieldsDescription() : joined(fields_);
}

std::string CronSchedule::fieldsDescription() const {
    if (fields_.size() != 5) return joined(fields_);
    const std::string& minute = fields_[0];
    const std::string& hour = fields_[1];
    const std::string& day = fields_[2];
    const std::string& month = fields_[3];
    const std::string& weekday = fields_[4];
    const auto minuteValue = CronText::integerValue(minute, true);
    const auto hourValue = CronText::integerValue(hour, true);

    std::string base;
    if (minute == "*" && hour == "*") {
        base = "Every minute";
    } else if (hour == "*" && minute.starts_with("*/")) {
        base = "Every " + minute.substr(2) + " minutes";
    } else if (hour == "*" && minuteValue) {
        base = minute == "0" ? "Every hour, on the hour" : "At " + minute + " minutes past every hour";
    } else if (minuteValue && hourValue) {
        base = fmt::format("At {:02d}:{:02d}", *hourValue, *minuteValue);
    } else if (minute == "*" && hourValue) {
        base = "Every minute of the " + hour + ":00 hour";
    } else {
        return joined(fields_);
    }

    std::vector<std::string> qualifiers;
    if (weekday != "*") qualifiers.push_back("on " + weekdayText(weekday));
    if (day != "*") qualifiers.push_back("on day " + day + " of the month");
    if (month != "*") qualifiers.push_back("in " + monthText(month));
    if (qualifiers.empty()) return base;
    base += ' ';
    for (std::size_t i = 0; i < qualifiers.size(); ++i) {
        if (i) base += ", ";
        base += qualifiers[i];
    }
    return base;
}

std::string CronSchedule::weekdayText(std::string_view field) {
    if (const auto value = CronText::integerValue(field, true)) {
        if (*value >= 0 && *value <= 6) return std::string(weekdaysPlural[static_cast<std::size_t>(*value)]);
        if (*value == 7) return std::string(weekdaysPlural[0]);
    } else if (const int index = indexOf(weekdayNames, CronText::lowercased(field)); index >= 0) {
        return std::string(weekdaysPlural[static_cast<std::size_t>(index)]);
    }
    return "weekday " + std::string(field);
}

std::string CronSchedule::monthText(std::string_view field) {
    if (const auto value = CronText::integerValue(field, true); value && *value >= 1 && *value <= 12)
        return std::string(monthTitles[static_cast<std::size_t>(*value - 1)]);
    return "month " + std::string(field);
}

std::size_t CronSchedule::hash() const {
    std::size_t seed = static_cast<std::size_t>(kind_);
    for (const auto& field : fields_) combine(seed, std::hash<std::string>()(field));
    combine(seed, std::hash<std::string>()(word_));
    return seed;
}

}  // namespace qw
