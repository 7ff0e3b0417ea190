// CronSchedule: when a crontab entry runs — the five time fields as written (minute, hour, day of
// month, month, day of week) or an "@" word — with the field rules of the parser and the English
// sentence shown beside every schedule.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qw {

class CronSchedule {
public:
    enum class Kind { fields, special };

    static CronSchedule fields(std::vector<std::string> fields) { return CronSchedule(Kind::fields, std::move(fields), {}); }
    // The word with its "@", as written; not checked against any list.
    static CronSchedule special(std::string word) { return CronSchedule(Kind::special, {}, std::move(word)); }

    Kind kind() const { return kind_; }
    bool isSpecial() const { return kind_ == Kind::special; }
    // For `fields`; empty for `special`.
    const std::vector<std::string>& fieldValues() const { return fields_; }
    // For `special`; empty for `fields`.
    const std::string& word() const { return word_; }

    // The word, or the fields joined with one space.
    std::string expression() const;

    // Whether a field (index 0 to 4) is one the parser takes: every part "*", a decimal integer that
    // fits 64 bits (an optional "+" in front), or for the month and weekday a name of three letters.
    // Ranges are not checked.
    static bool isValidField(std::string_view field, int index);
    // The field split at every ",", "-" and "/", empty parts dropped.
    static std::vector<std::string_view> fieldParts(std::string_view field);

    // Why cron would refuse the schedule, naming the field or the word; nothing when cron takes it.
    // Stricter than isValidField: cron checks each value against its field's limits, wants a step of at
    // least 1, and knows only its own "@" words.
    std::optional<std::string> refusal() const;
    // Why a schedule cron takes still never runs (a field that names nothing); nothing when it runs or
    // when cron refuses it.
    std::optional<std::string> neverRuns() const;
    // Whether cron runs the line on days matching either day field rather than both: it decides by
    // the fields' first characters, ORing only when neither starts with "*".
    bool joinsDaysByOr() const;
    // Whether a schedule cron takes names every minute of the hours it runs ("*", "*/1", "0-59").
    bool runsEveryMinute() const;

    static constexpr std::string_view refusedDescription = "Never runs: cron refuses this schedule";
    // The English sentence for the schedule; what the rules do not cover is shown as written, and a
    // schedule cron refuses is said never to run.
    std::string description() const;
    std::string fieldsDescription() const;
    static std::string weekdayText(std::string_view field);
    static std::string monthText(std::string_view field);

    std::size_t hash() const;
    bool operator==(const CronSchedule&) const = default;

private:
    // The field that names nothing, so that a schedule cron takes never runs, with its backwards range.
    std::optional<std::pair<int, std::string>> silentField() const;
    CronSchedule(Kind kind, std::vector<std::string> fields, std::string word)
        : kind_(kind), fields_(std::move(fields)), word_(std::move(word)) {}
    Kind kind_;
    std::vector<std::string> fields_;
    std::string word_;
};

}  // namespace qw

template <>
struct std::hash<qw::CronSchedule> {
    std::size_t operator()(const qw::CronSchedule& s) const noexcept { return s.hash(); }
};
