#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Quillwick/launchd/CalendarInterval.h"

namespace qw {
namespace {

TEST(CalendarIntervalTest, summaryDescribesEachCombinationOfFields) {
    struct Case {
        PlistDictionary entry;
        std::string summary;
    };
    const Case cases[] = {
        {{}, "every minute"},
        {{{"Hour", 9}}, "every minute of the 09:00 hour"},
        {{{"Minute", 0}}, "on the hour"},
        {{{"Minute", 30}}, "at 30 minutes past every hour"},
        {{{"Minute", 1}}, "at 1 minutes past every hour"},
        {{{"Hour", 9}, {"Minute", 5}}, "at 09:05"},
        {{{"Hour", 23}, {"Minute", 0}}, "at 23:00"},
        {{{"Hour", 7}, {"Minute", 5}, {"Weekday", 0}, {"Day", 1}, {"Month", 2}},
         "at 07:05 on Sundays, on day 1 of the month, in February"},
        {{{"Hour", 9}, {"Minute", 0}, {"Weekday", 1}, {"Month", 3}}, "at 09:00 on Mondays, in March"},
        {{{"Weekday", 7}}, "every minute on Sundays"},
        {{{"Weekday", 6}}, "every minute on Saturdays"},
        {{{"Weekday", 9}}, "every minute on weekday 9"},
        {{{"Weekday", -1}}, "every minute on weekday -1"},
        {{{"Month", 13}}, "every minute in month 13"},
        {{{"Month", 0}}, "every minute in month 0"},
        {{{"Month", 12}}, "every minute in December"},
        {{{"Minute", 15}, {"Day", 31}}, "at 15 minutes past every hour on day 31 of the month"},
        {{{"Hour", 5}, {"Day", 1}}, "every minute of the 05:00 hour on day 1 of the month"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CalendarInterval::fromPlistDictionary(c.entry).summary(), c.summary) << c.summary;
    }
}

TEST(CalendarIntervalTest, fieldsReadOnlyFromNumbersThatFitAnInteger) {
    const double huge = 1e30;
    const auto entry = CalendarInterval::fromPlistDictionary({
        {"Minute", 30.9},
        {"Hour", "9"},
        {"Day", true},
        {"Weekday", std::numeric_limits<double>::quiet_NaN()},
        {"Month", huge},
        {"Second", 5},
    });
    EXPECT_EQ(entry.minute, 30);
    EXPECT_FALSE(entry.hour);
    EXPECT_FALSE(entry.day);
    EXPECT_FALSE(entry.weekday);
    EXPECT_FALSE(entry.month);

    const auto negative = CalendarInterval::fromPlistDictionary({{"Minute", -2.7}, {"Hour", INFINITY}});
    EXPECT_EQ(negative.minute, -2);
    EXPECT_FALSE(negative.hour);
}

TEST(CalendarIntervalTest, writesOnlySetFieldsAndReadsBackEqual) {
    EXPECT_TRUE(CalendarInterval{}.plistValue().empty());

    CalendarInterval interval;
    interval.hour = 3;
    interval.weekday = 9;  // out of range values survive
    const PlistDictionary written = interval.plistValue();
    EXPECT_EQ(written, (PlistDictionary{{"Hour", 3}, {"Weekday", 9}}));
    EXPECT_EQ(written.find("Hour")->kind(), PlistValue::Kind::integer);
    EXPECT_EQ(CalendarInterval::fromPlistDictionary(written), interval);

    CalendarInterval full{1, 2, 3, 4, 5};
    EXPECT_EQ(CalendarInterval::fromPlistDictionary(full.plistValue()), full);
}

TEST(CalendarIntervalTest, unsetDiffersFromZero) {
    CalendarInterval zero;
    zero.minute = 0;
    EXPECT_NE(zero, CalendarInterval{});
    CalendarInterval same;
    same.minute = 0;
    EXPECT_EQ(zero, same);
    EXPECT_EQ(zero.hash(), same.hash());
}

}  // namespace
}  // namespace qw
