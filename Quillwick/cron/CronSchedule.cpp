#include "Quillwick/cron/CronSchedule.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstdint>

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

// What cron knows of each field: its limits, and the names it takes for values.
struct FieldRule {
    const char* name;     // "day of month"
    const char* article;  // "a minute"
    int low;
    int high;
    const char* limits;   // as cron takes them
    const std::string_view* names = nullptr;
    std::size_t nameCount = 0;
};

constexpr FieldRule fieldRules[] = {
    {"minute", "a minute", 0, 59, "0–59"},
    {"hour", "an hour", 0, 23, "0–23"},
    {"day of month", "a day of the month", 1, 31, "1–31"},
    {"month", "a month", 1, 12, "1–12 or jan–dec", monthNames.data(), monthNames.size()},
    {"day of week", "a day of the week", 0, 7, "0–7 or sun–sat", weekdayNames.data(), weekdayNames.size()},
};

constexpr std::array<std::string_view, 8> cronWords = {"@reboot", "@yearly", "@annually", "@monthly",
                                                       "@weekly", "@daily",  "@midnight", "@hourly"};

// A value as cron reads it: digits only (no sign), or one of the field's names in any case.
std::optional<std::int64_t> cronValue(std::string_view text, const FieldRule& rule) {
    if (text.empty()) return std::nullopt;
    const std::string lower = CronText::lowercased(text);
    for (std::size_t i = 0; i < rule.nameCount; ++i)
        if (rule.names[i] == lower) return rule.low + static_cast<std::int64_t>(i);
    if (text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    // Past any field's limit, however long.
    if (text.size() > 9) return std::int64_t{1} << 40;
    return CronText::integerValue(text, false);
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

namespace {

std::optional<std::string> fieldRefusal(std::string_view field, int index) {
    if (index < 0 || index > 4) return std::nullopt;
    const FieldRule& rule = fieldRules[index];
    const auto malformed = [&] {
        std::string reason = "“" + std::string(field) + "” is not a " + rule.name +
                             " cron accepts: use numbers, *, ranges such as 1-5, lists such as 1,15 and steps "
                             "such as */15";
        if (index == 3) reason += ", or names such as jan";
        if (index == 4) reason += ", or names such as mon";
        return reason + ".";
    };
    const auto outOfRange = [&](std::string_view value) {
        return "“" + std::string(value) + "” is not " + rule.article + ": cron takes " + rule.limits + ".";
    };
    if (field.empty()) return malformed();
    // A list of items, each "*", a value or a range "a-b", then perhaps "/step" (after "*" or a range only).
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = field.find(',', start);
        std::string_view item = field.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        std::optional<std::string_view> step;
        if (const auto slash = item.find('/'); slash != std::string_view::npos) {
            step = item.substr(slash + 1);
            item = item.substr(0, slash);
        }
        const auto dash = item.find('-');
        if (item != "*") {
            if (step && dash == std::string_view::npos) return malformed();
            const std::string_view first = item.substr(0, dash);
            const auto low = cronValue(first, rule);
            if (!low) return malformed();
            if (*low < rule.low || *low > rule.high) return outOfRange(first);
            if (dash != std::string_view::npos) {
                const std::string_view last = item.substr(dash + 1);
                const auto high = cronValue(last, rule);
                if (!high) return malformed();
                if (*high < rule.low || *high > rule.high) return outOfRange(last);
                if (*high < *low)
                    return "The range " + std::string(item) + " in the " + rule.name +
                           " field runs backwards, so it names no " + rule.name + ".";
            }
        }
        if (step) {
            if (step->empty() || step->find_first_not_of("0123456789") != std::string_view::npos) return malformed();
            if (step->find_first_not_of('0') == std::string_view::npos)
                return std::string("A step in the ") + rule.name + " field must be at least 1.";
        }
        if (comma == std::string_view::npos) return std::nullopt;
        start = comma + 1;
    }
}

}  // namespace

std::optional<std::string> CronSchedule::refusal() const {
    if (kind_ == Kind::special) {
        if (std::find(cronWords.begin(), cronWords.end(), word_) != cronWords.end()) return std::nullopt;
        return "cron knows no “" + word_ +
               "”: use @reboot, @yearly, @annually, @monthly, @weekly, @daily, @midnight or @hourly.";
    }
    if (fields_.size() != 5) return std::nullopt;
    for (int i = 0; i < 5; ++i)
        if (auto reason = fieldRefusal(fields_[static_cast<std::size_t>(i)], i)) return reason;
    return std::nullopt;
}

std::string CronSchedule::description() const {
    if (refusal()) return "Never runs: cron refuses this schedule";
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
