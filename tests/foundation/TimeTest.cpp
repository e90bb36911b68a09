#include "foundation/Time.h"

#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <tuple>

using namespace Kovan;
using KovanTest::fields;
using KovanTest::ScopedTz;

TEST(TimeTest, ValidityFollowsTheCalendarAndFieldsKeepOnlyTheirWidths)
{
    EXPECT_TRUE(Time(2000, 2, 29, 0, 0, 0).isValid());
    EXPECT_FALSE(Time::isLeapYear(2100));
    for (const Time& t : { Time(2007, 2, 29, 0, 0, 0), Time(2009, 4, 31, 0, 0, 0),
             Time(2009, 1, 0, 0, 0, 0), Time(2009, 0, 1, 0, 0, 0), Time(2009, 1, 1, 24, 0, 0),
             Time(2009, 1, 1, 0, 60, 0), Time(2009, 1, 1, 0, 0, 60) })
        EXPECT_FALSE(t.isValid()) << t.year() << "-" << t.month() << "-" << t.day();
    // 2100 - 1970 keeps its low six bits; every field wraps at its own width, none spills.
    EXPECT_EQ(1972, Time(2100, 1, 1, 0, 0, 0).year());
    EXPECT_EQ(Time(2033, 1, 1, 1, 1, 0), Time(1969, 17, 33, 33, 65, 64));
    EXPECT_EQ(-1, Time().utc_time_t());
    Time invalid(1970, 5, 6, 7, 8, 9);
    invalid.makeInvalid();
    EXPECT_EQ(Time(), invalid) << "a default time is 1970 made invalid";
    EXPECT_CHECK_FAILS(Time().dayOfWeek(), "isValid()", "dayOfWeek");
    EXPECT_CHECK_FAILS((void)static_cast<time_t>(Time()), "isValid()", "operator time_t");
    // A month and each part of a span keep within their unit, either way.
    for (int32 month : { 0, 13 })
        EXPECT_DEATH(Time::daysInMonth(2009, month), "month");
    EXPECT_EQ(-86399, TimeSpan(0, -23, -59, -59).totalSeconds());
    const int32 outside[][3]
        = { { 24, 0, 0 }, { -24, 0, 0 }, { 0, 60, 0 }, { 0, -60, 0 }, { 0, 0, 60 }, { 0, 0, -60 } };
    for (const auto& [hours, minutes, seconds] : outside)
        EXPECT_DEATH(TimeSpan(0, hours, minutes, seconds), "59|23");
    EXPECT_EQ(0, TimeSpan().totalSeconds());
}

TEST(TimeTest, UtcFieldsDayOfWeekAndSpansAgreeWithTheCLibraryWhateverTheZone)
{
    ScopedTz tz("Asia/Kathmandu"); // an odd offset (+5:45): any local conversion would show
    std::mt19937 random(3);
    Time prev(1970, 1, 1, 0, 0, 0);
    for (int i = 0; i < 20000; ++i) {
        const time_t when = static_cast<time_t>(random() % 2019686400u);
        tm c;
        gmtime_r(&when, &c);
        const Time t(c.tm_year + 1900, c.tm_mon + 1, c.tm_mday, c.tm_hour, c.tm_min, c.tm_sec);
        Time back;
        back.setUtcTime(when);
        const TimeSpan span = prev - t;
        ASSERT_EQ(std::make_tuple(true, when, c.tm_wday, t, prev.utc_time_t() < when,
                      prev.utc_time_t() - when, prev),
            std::make_tuple(t.isValid(), t.utc_time_t(), t.dayOfWeek(), back, prev < t,
                time_t(span.totalSeconds()), t + span))
            << when;
        prev = t;
    }
    // Seconds above 59 roll over; the ends of a 32-bit time_t are found on any build.
    const std::pair<tm, time_t> made[]
        = { { fields(2009, 2, 31), -1 }, { fields(2009, 1, 1, 24), -1 },
              { fields(2009, 13, 1), -1 }, { fields(2008, 12, 31, 23, 59, 60), 1230768000 },
              { fields(1901, 12, 13, 20, 45, 52), -2147483647L - 1 },
              { fields(2038, 1, 19, 3, 14, 7), 2147483647L } };
    for (const auto& [t, want] : made)
        EXPECT_EQ(want, Time::utcMkTime(&t)) << t.tm_year << "/" << t.tm_mon << "/" << t.tm_mday;
}

TEST(TimeTest, LocalConversionsFollowTheZoneAndArithmeticIsUtc)
{
    ScopedTz tz("America/New_York");
    // 2009-07-01 12:00 EDT is 16:00 UTC; 2009-01-01 00:00 UTC is 19:00 EST the day before.
    const Time summer(2009, 7, 1, 12, 0, 0);
    EXPECT_EQ(1246464000, static_cast<time_t>(summer));
    EXPECT_EQ(1, static_cast<tm>(summer).tm_isdst);
    EXPECT_EQ(Time(2008, 12, 31, 19, 0, 0), Time(static_cast<time_t>(1230768000)));
    EXPECT_NEAR(time(nullptr), static_cast<time_t>(Time::currentTime()), 1);
    const Time t(2008, 2, 29, 12, 0, 0); // across 2008-03-09, when summer time began: UTC
    EXPECT_EQ(Time(2008, 3, 30, 12, 0, 0), TimeSpan(30, 0, 0, 0) + t);
    const Time earlier = t - TimeSpan(0, 12, 0, 1);
    EXPECT_TRUE(isSameDate(earlier, Time(2008, 2, 28, 0, 0, 0)));
    EXPECT_FALSE(isSameHour(earlier, Time(2008, 2, 28, 22, 59, 59)));
    EXPECT_TRUE(isSameMinute(t, Time(2008, 2, 29, 12, 0, 59)));
    EXPECT_EQ(1502, (TimeSpan(1, 1, 1, 30) - TimeSpan(0, 0, 0, 30) + TimeSpan(60)).totalMinutes());
    // KxTime32: a second of 32 or more sets the top bit, the same negative number on every build.
    EXPECT_EQ(2034580872L, convertToKxTime32(Time(2008, 6, 15, 10, 20, 30)));
    const Time late(2033, 12, 31, 23, 59, 59);
    EXPECT_LT(convertToKxTime32(late), 0);
    EXPECT_EQ(late, convertFromKxTime32(convertToKxTime32(late)));
}
