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

// A field as cron reads it: why it refuses it, or the values it names (bit n for value n; a Sunday
// written 7 is 0) and the first range in it that runs backwards and so names nothing.
struct FieldReading {
    std::optional<std::string> refusal;
    std::uint64_t values = 0;
    std::optional<std::string> backwards;
};

FieldReading readField(std::string_view field, int index) {
    FieldReading reading;
    const FieldRule& rule = fieldRules[index];
    const auto refuse = [&](std::string reason) {
        reading.refusal = std::move(reason);
        return reading;
    };
    const auto malformed = [&] {
        std::string reason = "“" + std::string(field) + "” is not a " + rule.name +
                             " cron accepts: use numbers, *, ranges such as 1-5, lists such as 1,15 and steps "
                             "such as */15";
        if (index == 3) reason += ", or names such as jan";
        if (index == 4) reason += ", or names such as mon";
        return refuse(reason + ".");
    };
    const auto outOfRange = [&](std::string_view value) {
        return refuse("“" + std::string(value) + "” is not " + rule.article + ": cron takes " + rule.limits + ".");
    };
    if (field.empty()) return malformed();
    // A list of items, each "*", a value or a range "a-b", then perhaps "/step" (after "*" or a range only).
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = field.find(',', start);
        std::string_view item = field.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        std::optional<std::string_view> stepText;
        if (const auto slash = item.find('/'); slash != std::string_view::npos) {
            stepText = item.substr(slash + 1);
            item = item.substr(0, slash);
        }
        const auto dash = item.find('-');
        std::int64_t low = rule.low;
        std::int64_t high = rule.high;
        if (item != "*") {
            if (stepText && dash == std::string_view::npos) return malformed();
            const std::string_view first = item.substr(0, dash);
            const auto value = cronValue(first, rule);
            if (!value) return malformed();
            if (*value < rule.low || *value > rule.high) return outOfRange(first);
            low = high = *value;
            if (dash != std::string_view::npos) {
                const std::string_view last = item.substr(dash + 1);
                const auto end = cronValue(last, rule);
                if (!end) return malformed();
                if (*end < rule.low || *end > rule.high) return outOfRange(last);
                high = *end;
                if (high < low && !reading.backwards) reading.backwards = std::string(item);
            }
        }
        std::int64_t step = 1;
        if (stepText) {
            if (stepText->empty() || stepText->find_first_not_of("0123456789") != std::string_view::npos) return malformed();
            if (stepText->find_first_not_of('0') == std::string_view::npos)
                return refuse(std::string("A step in the ") + rule.name + " field must be at least 1.");
            // Past any field's span, however long: only the first value is named.
            step = stepText->size() > 9 ? 64 : *CronText::integerValue(*stepText, false);
        }
        for (std::int64_t value = low; value <= high; value += step)
            reading.values |= std::uint64_t{1} << (index == 4 && value == 7 ? 0 : value);
        if (comma == std::string_view::npos) return reading;
        start = comma + 1;
    }
}

std::uint64_t valuesOf(const std::string& field, int index) { return readField(field, index).values; }

std::uint64_t allValues(int index) {
    const FieldRule& rule = fieldRules[index];
    const int high = index == 4 ? 6 : rule.high;
    return ((std::uint64_t{1} << (high + 1)) - 1) & ~((std::uint64_t{1} << rule.low) - 1);
}

std::vector<int> listed(std::uint64_t values) {
    std::vector<int> out;
    for (int n = 0; n < 64; ++n)
        if (values & (std::uint64_t{1} << n)) out.push_back(n);
    return out;
}

// The step N when the values are 0, N, 2N, … and N divides the span, so they come every N units
// around the clock too; nothing otherwise.
std::optional<int> evenStep(const std::vector<int>& values, int span) {
    if (values.empty() || values.front() != 0) return std::nullopt;
    const int step = values.size() > 1 ? values[1] : span;
    if (span % step != 0 || static_cast<int>(values.size()) != span / step) return std::nullopt;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] != static_cast<int>(i) * step) return std::nullopt;
    return step;
}

// "a, b and c", or the first four, "…" and the last when there are many.
std::string spoken(const std::vector<std::string>& words) {
    if (words.size() == 1) return words.front();
    std::string out;
    if (words.size() > 6) {
        for (std::size_t i = 0; i < 4; ++i) out += words[i] + ", ";
        return out + "…, " + words.back();
    }
    for (std::size_t i = 0; i + 1 < words.size(); ++i) out += (i ? ", " : "") + words[i];
    return out + " and " + words.back();
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
        if (auto reason = readField(fields_[static_cast<std::size_t>(i)], i).refusal) return reason;
    return std::nullopt;
}

bool CronSchedule::joinsDaysByOr() const {
    return kind_ == Kind::fields && fields_.size() == 5 && !fields_[2].starts_with('*') && !fields_[4].starts_with('*');
}

std::optional<std::string> CronSchedule::neverRuns() const {
    const auto silent = silentField();
    if (!silent) return std::nullopt;
    const char* name = fieldRules[silent->first].name;
    return "The range " + silent->second + " in the " + name + " field runs backwards, so it names no " + name + ".";
}

std::optional<std::pair<int, std::string>> CronSchedule::silentField() const {
    if (kind_ != Kind::fields || fields_.size() != 5 || refusal()) return std::nullopt;
    std::uint64_t values[5];
    for (int i = 0; i < 5; ++i) values[i] = valuesOf(fields_[static_cast<std::size_t>(i)], i);
    int silent = -1;
    for (const int i : {0, 1, 3})
        if (silent < 0 && values[i] == 0) silent = i;
    // Either day field may carry the line when cron ORs them; otherwise both must match.
    const bool noDay = values[2] == 0;
    const bool noWeekday = values[4] == 0;
    if (silent < 0 && (joinsDaysByOr() ? noDay && noWeekday : noDay || noWeekday)) silent = noDay ? 2 : 4;
    if (silent < 0) return std::nullopt;
    // Values in range always name something: only a backwards range names nothing.
    return std::pair{silent, *readField(fields_[static_cast<std::size_t>(silent)], silent).backwards};
}

std::string CronSchedule::description() const {
    if (refusal()) return std::string(refusedDescription);
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

bool CronSchedule::runsEveryMinute() const {
    return kind_ == Kind::fields && fields_.size() == 5 && !refusal() && valuesOf(fields_[0], 0) == allValues(0);
}

std::string CronSchedule::fieldsDescription() const {
    if (fields_.size() != 5) return joined(fields_);
    if (const auto silent = silentField()) return "Never runs: the range " + silent->second + " runs backwards";
    // A step or a full range that names every minute is read as "*".
    const std::string minute = runsEveryMinute() ? "*" : fields_[0];
    const std::string& hour = fields_[1];
    const std::string& day = fields_[2];
    const std::string& month = fields_[3];
    const std::string& weekday = fields_[4];
    const auto minuteValue = CronText::integerValue(minute, true);
    const auto hourValue = CronText::integerValue(hour, true);
    const bool valid = !refusal();

    std::string base;
    if (minute == "*" && hour == "*") {
        base = "Every minute";
    } else if (valid && hour == "*" && minute.find('/') != std::string::npos) {
        // cron restarts a step at every hour: "every N minutes" holds only where N divides the hour.
        const std::vector<int> minutes = listed(valuesOf(minute, 0));
        if (const auto step = evenStep(minutes, 60)) {
            base = *step == 60 ? "Every hour, on the hour" : "Every " + std::to_string(*step) + " minutes";
        } else {
            std::vector<std::string> words;
            for (const int m : minutes) words.push_back(std::to_string(m));
            base = "At " + spoken(words) + " minutes past every hour";
        }
    } else if (hour == "*" && minuteValue) {
        base = minute == "0" ? "Every hour, on the hour" : "At " + minute + " minutes past every hour";
    } else if (minuteValue && hourValue) {
        base = fmt::format("At {:02d}:{:02d}", *hourValue, *minuteValue);
    } else if (valid && minuteValue && hour.find('/') != std::string::npos) {
        // The same for hours, restarting every day.
        const std::vector<int> hours = listed(valuesOf(hour, 1));
        if (const auto step = evenStep(hours, 24); step && *step < 24) {
            const std::string every = *step == 1 ? "Every hour" : "Every " + std::to_string(*step) + " hours";
            base = every + (*minuteValue == 0 ? ", on the hour" : fmt::format(", at {} minutes past the hour", *minuteValue));
        } else {
            std::vector<std::string> words;
            for (const int h : hours) words.push_back(fmt::format("{:02d}:{:02d}", h, *minuteValue));
            base = "At " + spoken(words);
        }
    } else if (minute == "*" && hourValue) {
        base = "Every minute of the " + hour + ":00 hour";
    } else {
        return joined(fields_);
    }

    std::vector<std::string> qualifiers;
    if (weekday != "*") qualifiers.push_back("on " + weekdayText(weekday));
    if (day != "*") qualifiers.push_back("on day " + day + " of the month");
    // Where cron runs on days matching either field, the sentence says so.
    if (qualifiers.size() == 2 && joinsDaysByOr()) {
        qualifiers[0] += " or " + qualifiers[1];
        qualifiers.pop_back();
    }
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
