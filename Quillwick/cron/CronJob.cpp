#include "Quillwick/cron/CronJob.h"

namespace qw {

std::string CronJob::lineText() const { return (isDisabled ? "#" : "") + schedule.expression() + " " + command; }

std::optional<std::string> CronJob::refusal() const {
    if (auto reason = schedule.refusal()) return reason;
    if (command.starts_with('*'))
        return "cron takes the “*” that starts the command for a sixth time field, and a schedule has five.";
    return std::nullopt;
}

std::string CronJob::description() const {
    return refusal() ? std::string(CronSchedule::refusedDescription) : schedule.description();
}

std::size_t CronJob::hash() const {
    std::size_t seed = std::hash<std::int64_t>()(line);
    for (const std::size_t value : {schedule.hash(), std::hash<std::string>()(command), std::size_t(isDisabled)})
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

}  // namespace qw
