#include "Quillwick/cron/CronJob.h"

namespace qw {

std::string CronJob::lineText() const { return (isDisabled ? "#" : "") + schedule.expression() + " " + command; }

std::size_t CronJob::hash() const {
    std::size_t seed = std::hash<std::int64_t>()(line);
    for (const std::size_t value : {schedule.hash(), std::hash<std::string>()(command), std::size_t(isDisabled)})
        seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

}  // namespace qw
