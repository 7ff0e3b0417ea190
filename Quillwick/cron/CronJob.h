// CronJob: the schedule line of one crontab entry, active or commented out. Its `line` — the 0-based
// index of the line in the text it was parsed from — is also its identity in lists and selections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Quillwick/cron/CronSchedule.h"

namespace qw {

struct CronJob {
    std::int64_t line = 0;
    CronSchedule schedule = CronSchedule::fields({"*", "*", "*", "*", "*"});
    std::string command;  // everything after the schedule, trimmed
    bool isDisabled = false;  // commented out with "#"

    std::int64_t id() const { return line; }
    // The line as the crontab writes it: "#" when disabled, the expression, one space, the command.
    std::string lineText() const;
    // Why crontab refuses the line: its schedule's reason, or a command that starts with "*", which cron
    // takes for a sixth time field. Nothing when it installs.
    std::optional<std::string> refusal() const;
    // The schedule's sentence, or that the line never runs when crontab refuses it.
    std::string description() const;

    std::size_t hash() const;
    bool operator==(const CronJob&) const = default;
};

}  // namespace qw

template <>
struct std::hash<qw::CronJob> {
    std::size_t operator()(const qw::CronJob& j) const noexcept { return j.hash(); }
};
