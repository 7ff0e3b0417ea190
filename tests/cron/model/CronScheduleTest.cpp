#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "Quillwick/cron/Crontab.h"

namespace qw::test {
namespace {

std::string describe(const std::string& line) {
    const auto parsed = Crontab::Line::parsing(line + " /bin/x", 0);
    EXPECT_EQ(parsed.kind(), Crontab::Line::Kind::job) << line;
    return parsed.cronJob().schedule.description();
}

const std::string never = "Never runs: cron refuses this schedule";

TEST(CronScheduleDescription, everyScheduleReadsAsASentenceOrAsWritten) {
    const std::pair<std::string, std::string> cases[] = {
        {"@reboot", "When the Mac starts up"},
        {"@REBOOT", never},
        {"@annually", "Once a year, at midnight on 1 January"},
        {"@yearly", "Once a year, at midnight on 1 January"},
        {"@monthly", "On the 1st of every month, at midnight"},
        {"@weekly", "Every Sunday, at midnight"},
        {"@midnight", "Every day, at midnight"},
        {"@hourly", "Every hour, on the hour"},
        {"@every5m", never},
        {"* * * * *", "Every minute"},
        {"*/15 * * * *", "Every 15 minutes"},
        {"*/5,10 * * * *", "Every 5 minutes"},  // 10 is one of the fives
        {"*/1 * * * *", "Every minute"},
        {"*/1 9 * * *", "Every minute of the 9:00 hour"},
        // A step that does not divide the hour restarts at :00: name the minutes cron uses.
        {"*/31 * * * *", "At 0 and 31 minutes past every hour"},
        {"*/21 * * * *", "At 0, 21 and 42 minutes past every hour"},
        {"*/90 * * * *", "Every hour, on the hour"},
        {"*/7 * * * *", "At 0, 7, 14, 21, …, 56 minutes past every hour"},
        {"0-59/20 * * * *", "Every 20 minutes"},
        {"5-59/15 * * * *", "At 5, 20, 35 and 50 minutes past every hour"},
        {"0 */7 * * *", "At 00:00, 07:00, 14:00 and 21:00"},
        {"0 */6 * * *", "Every 6 hours, on the hour"},
        {"30 */2 * * *", "Every 2 hours, at 30 minutes past the hour"},
        {"0 */1 * * *", "Every hour, on the hour"},
        {"15 8-18/5 * * *", "At 08:15, 13:15 and 18:15"},
        {"0 9 * * 7-1", "Never runs: the range 7-1 runs backwards"},
        {"0 9 1 * 7-1", "At 09:00 on weekday 7-1 or on day 1 of the month"},  // day 1 still matches
        // cron ORs the two day fields only when neither starts with "*".
        {"0 9 1,15 * 1-5", "At 09:00 on weekday 1-5 or on day 1,15 of the month"},
        {"0 9 */2 * 1-5", "At 09:00 on weekday 1-5, on day */2 of the month"},
        {"0 * * * *", "Every hour, on the hour"},
        {"00 * * * *", "At 00 minutes past every hour"},
        {"30 * * * *", "At 30 minutes past every hour"},
        {"5 9 * * *", "At 09:05"},
        {"5 123 * * *", never},
        {"* 9 * * *", "Every minute of the 9:00 hour"},
        {"* * 1 * *", "Every minute on day 1 of the month"},
        {"0 9-17 * * 1-5", "0 9-17 * * 1-5"},
        {"*/5 9 * * *", "*/5 9 * * *"},
        {"0 9 * * 1-5", "At 09:00 on weekday 1-5"},
        {"30 8 1 * *", "At 08:30 on day 1 of the month"},
        {"0 0 1 1 *", "At 00:00 on day 1 of the month, in January"},
        {"*/10 * * * mon", "Every 10 minutes on Mondays"},
        {"*/10 * * * MON", "Every 10 minutes on Mondays"},
        {"0 9 15 jan sun", "At 09:00 on Sundays or on day 15 of the month, in month jan"},
        {"0 9 * * 7", "At 09:00 on Sundays"},
        {"0 9 * * 8", never},
        {"0 9 * * mon-fri", "At 09:00 on weekday mon-fri"},
        {"0 9 * 13 *", never},
        {"0 9 * +12 *", never},
        {"61 25 * * *", never},
    };
    for (const auto& [schedule, sentence] : cases) EXPECT_EQ(describe(schedule), sentence) << schedule;

    EXPECT_EQ(CronSchedule::fields({"0", "9", "*", "*"}).description(), "0 9 * *");
    EXPECT_EQ(CronSchedule::weekdayText("-1"), "weekday -1");
    EXPECT_EQ(CronSchedule::monthText("-1"), "month -1");
}

// Whatever crontab would refuse to install is named by its field; what it takes is not.
TEST(CronScheduleRefusal, eachValueRangeStepAndWordIsCheckedAsCronDoes) {
    const std::string fields = "use numbers, *, ranges such as 1-5, lists such as 1,15 and steps such as */15";
    const std::pair<std::string, std::string> refused[] = {
        {"61 25 * * *", "“61” is not a minute: cron takes 0–59."},
        {"0 24 * * *", "“24” is not an hour: cron takes 0–23."},
        {"0 0 0 * *", "“0” is not a day of the month: cron takes 1–31."},
        {"0 0 1-32 * *", "“32” is not a day of the month: cron takes 1–31."},
        {"0 0 * jan-13 *", "“13” is not a month: cron takes 1–12 or jan–dec."},
        {"0 0 * * 8", "“8” is not a day of the week: cron takes 0–7 or sun–sat."},
        {"*/0 * * * *", "A step in the minute field must be at least 1."},
        {"5- * * * *", "“5-” is not a minute cron accepts: " + fields + "."},
        {"1,,2 * * * *", "“1,,2” is not a minute cron accepts: " + fields + "."},
        {"5/10 * * * *", "“5/10” is not a minute cron accepts: " + fields + "."},
        {"+5 * * * *", "“+5” is not a minute cron accepts: " + fields + "."},
        {"0 9 * * mon/2", "“mon/2” is not a day of week cron accepts: " + fields + ", or names such as mon."},
        {"@foo", "cron knows no “@foo”: use @reboot, @yearly, @annually, @monthly, @weekly, @daily, @midnight or "
                 "@hourly."},
    };
    for (const auto& [schedule, reason] : refused) {
        const auto parsed = Crontab::Line::parsing(schedule + " /bin/true", 0);
        ASSERT_EQ(parsed.kind(), Crontab::Line::Kind::job) << schedule;
        EXPECT_EQ(parsed.cronJob().schedule.refusal(), reason) << schedule;
    }
    for (const std::string schedule : {"0 9 * jan-MAR mon-fri", "*/15 0-23/2 1,15,31 12 7", "59 23 31 dec SUN",
                                       "00 00 01 01 0", "0-59/60 * * * *", "@annually",
                                       "0 17-9 * * *", "0 9 * * 7-1"})
        EXPECT_EQ(Crontab::Line::parsing(schedule + " /bin/true", 0).cronJob().schedule.refusal(), std::nullopt)
            << schedule;
}

// crontab refuses a command that starts with "*": the line was written with six time fields.
TEST(CronJobRefusal, aStarOpeningTheCommandIsRefusedAsCrontabRefusesIt) {
    const std::string sixth = "cron takes the “*” that starts the command for a sixth time field, and a schedule "
                              "has five.";
    for (const std::string line : {"* * * * * * /bin/a", "0 9 * * *\t*x", "@daily * /x"}) {
        const auto parsed = Crontab::Line::parsing(line, 0);
        ASSERT_EQ(parsed.kind(), Crontab::Line::Kind::job) << line;
        EXPECT_EQ(parsed.cronJob().refusal(), sixth) << line;
        EXPECT_EQ(parsed.cronJob().description(), never) << line;
    }
    EXPECT_EQ(Crontab::Line::parsing("0 9 * * * /x *", 0).cronJob().refusal(), std::nullopt);
    EXPECT_EQ(Crontab::Line::parsing("61 9 * * * /x", 0).cronJob().refusal(), "“61” is not a minute: cron takes 0–59.");
    // Commented out, it could never be switched on: a note, not an entry.
    EXPECT_EQ(Crontab::Line::parsing("#* * * * * * /x", 0).kind(), Crontab::Line::Kind::comment);
}

// crontab installs a backwards range; the line just never runs, unless the other day field ORs in.
TEST(CronScheduleNeverRuns, onlyAFieldThatNamesNothingStopsTheLine) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"0 9 * * 7-1", "The range 7-1 in the day of week field runs backwards, so it names no day of week."},
        {"0 17-9 * * *", "The range 17-9 in the hour field runs backwards, so it names no hour."},
        {"0 9 */2 * 7-1", "The range 7-1 in the day of week field runs backwards, so it names no day of week."},
        {"0 9 1 * 7-1", std::nullopt},
        {"0 1-5,17-9 * * *", std::nullopt},
        {"0 9 * * 1-5", std::nullopt},
        {"61 9 * * 7-1", std::nullopt},  // refused, which says more
    };
    for (const auto& [schedule, reason] : cases)
        EXPECT_EQ(Crontab::Line::parsing(schedule + " /bin/true", 0).cronJob().schedule.neverRuns(), reason) << schedule;
}

}  // namespace
}  // namespace qw::test
