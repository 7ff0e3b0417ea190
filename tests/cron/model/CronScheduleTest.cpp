#include <gtest/gtest.h>

#include <string>

#include "Quillwick/cron/Crontab.h"

namespace qw::test {
namespace {

std::string describe(const std::string& line) {
    const auto parsed = Crontab::Line::parsing(line + " /bin/x", 0);
    EXPECT_EQ(parsed.kind(), Crontab::Line::Kind::job) << line;
    return parsed.cronJob().schedule.description();
}

TEST(CronScheduleDescription, everyScheduleReadsAsASentenceOrAsWritten) {
    const std::pair<std::string, std::string> cases[] = {
        {"@REBOOT", "When the Mac starts up"},
        {"@annually", "Once a year, at midnight on 1 January"},
        {"@yearly", "Once a year, at midnight on 1 January"},
        {"@monthly", "On the 1st of every month, at midnight"},
        {"@weekly", "Every Sunday, at midnight"},
        {"@midnight", "Every day, at midnight"},
        {"@hourly", "Every hour, on the hour"},
        {"@every5m", "@every5m"},
        {"* * * * *", "Every minute"},
        {"*/15 * * * *", "Every 15 minutes"},
        {"*/5,10 * * * *", "Every 5,10 minutes"},
        {"0 * * * *", "Every hour, on the hour"},
        {"00 * * * *", "At 00 minutes past every hour"},
        {"30 * * * *", "At 30 minutes past every hour"},
        {"5 9 * * *", "At 09:05"},
        {"5 123 * * *", "At 123:05"},
        {"* 9 * * *", "Every minute of the 9:00 hour"},
        {"* * 1 * *", "Every minute on day 1 of the month"},
        {"0 9-17 * * 1-5", "0 9-17 * * 1-5"},
        {"*/5 9 * * *", "*/5 9 * * *"},
        {"0 9 * * 1-5", "At 09:00 on weekday 1-5"},
        {"30 8 1 * *", "At 08:30 on day 1 of the month"},
        {"0 0 1 1 *", "At 00:00 on day 1 of the month, in January"},
        {"*/10 * * * mon", "Every 10 minutes on Mondays"},
        {"*/10 * * * MON", "Every 10 minutes on Mondays"},
        {"0 9 15 jan sun", "At 09:00 on Sundays, on day 15 of the month, in month jan"},
        {"0 9 * * 7", "At 09:00 on Sundays"},
        {"0 9 * * 8", "At 09:00 on weekday 8"},
        {"0 9 * * mon-fri", "At 09:00 on weekday mon-fri"},
        {"0 9 * 13 *", "At 09:00 in month 13"},
        {"0 9 * +12 *", "At 09:00 in December"},
    };
    for (const auto& [schedule, sentence] : cases) EXPECT_EQ(describe(schedule), sentence) << schedule;

    EXPECT_EQ(CronSchedule::fields({"0", "9", "*", "*"}).description(), "0 9 * *");
    EXPECT_EQ(CronSchedule::weekdayText("-1"), "weekday -1");
    EXPECT_EQ(CronSchedule::monthText("-1"), "month -1");
}

}  // namespace
}  // namespace qw::test
