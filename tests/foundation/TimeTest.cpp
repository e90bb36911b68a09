#include "foundation/Time.h"

#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include <gtest/gtest.h>

using namespace Kovan;
using KovanTest::ScopedTz;

namespace {

tm fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

} // namespace

TEST(TimeTest, FieldsArePackedInChronologicalOrderCutToTheirWidthsAndFollowTheCalendar)
{
    EXPECT_EQ((38u << 26) | (6u << 22) | (15u << 17) | (10u << 12) | (20u << 6) | 30u,
        Time(2008, 6, 15, 10, 20, 30).toUint32());
    // 2100 - 1970 = 130 keeps its low six bits: 2.
    EXPECT_EQ(1972, Time(2100, 1, 1, 0, 0, 0).year());
    EXPECT_EQ(Time(2033, 1, 1, 1, 1, 0), Time(1969, 17, 33, 33, 65, 64));
    Time invalid(2010, 5, 6, 7, 8, 9);
    invalid.makeInvalid();
    EXPECT_EQ((40u << 26) | (13u << 22) | (25u << 12) | (61u << 6) | 61u, invalid.toUint32());
    EXPECT_EQ(-1, invalid.utc_time_t());
    EXPECT_FALSE(Time().isValid());

    for (const Time& t : { Time(2008, 2, 29, 23, 59, 59), Time(2000, 2, 29, 0, 0, 0) })
        EXPECT_TRUE(t.isValid()) << t.toUint32();
    for (const Time& t : { Time(2007, 2, 29, 0, 0, 0), Time(2009, 4, 31, 0, 0, 0),
             Time(2009, 1, 0, 0, 0, 0), Time(2009, 0, 1, 0, 0, 0), Time(2009, 1, 1, 24, 0, 0),
             Time(2009, 1, 1, 0, 60, 0), Time(2009, 1, 1, 0, 0, 60) })
        EXPECT_FALSE(t.isValid()) << t.toUint32();
    EXPECT_TRUE(28 == Time::daysInMonth(2100, 2) && 30 == Time::daysInMonth(2023, 11));
}

TEST(TimeTest, UtcTimeAndDayOfWeekAgreeWithTheCLibraryForEveryDayWhateverTheZone)
{
    // An odd offset (+5:45): any local conversion would show.
    ScopedTz tz("Asia/Kathmandu");
    int days = 0;
    for (int year = 1970; year <= 2033; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= Time::daysInMonth(year, month); ++day, ++days) {
                // A different time of day for each date.
                const int s = (days * 7919) % 86400;
                tm utc = fields(year, month, day, s / 3600, (s / 60) % 60, s % 60);
                const Time t(year, month, day, s / 3600, (s / 60) % 60, s % 60);
                ASSERT_EQ(timegm(&utc), t.utc_time_t()) << year << "-" << month << "-" << day;
                ASSERT_EQ(utc.tm_wday, t.dayOfWeek()) << year << "-" << month << "-" << day;
            }
        }
    }
    EXPECT_EQ(23376, days);
    Time back;
    back.setUtcTime(1230768000);
    EXPECT_EQ(Time(2009, 1, 1, 0, 0, 0), back);

    for (const tm& t : { fields(2009, 2, 31), fields(2009, 1, 1, 24), fields(2009, 13, 1) })
        EXPECT_EQ(-1, Time::utcMkTime(&t));
    // Seconds above 59 roll over; the ends of a 32-bit time_t are found on any build.
    const tm leap = fields(2008, 12, 31, 23, 59, 60);
    const tm first = fields(1901, 12, 13, 20, 45, 52), last = fields(2038, 1, 19, 3, 14, 7);
    EXPECT_EQ(1230768000, Time::utcMkTime(&leap));
    EXPECT_EQ(-2147483647L - 1, Time::utcMkTime(&first));
    EXPECT_EQ(2147483647L, Time::utcMkTime(&last));
}

TEST(TimeTest, LocalConversionsFollowTheZoneAndSpansWalkTheCalendarInUtc)
{
    ScopedTz tz("America/New_York");
    // 2009-07-01 12:00 EDT is 16:00 UTC; 2009-01-01 00:00 UTC is 19:00 EST the day before.
    const Time summer(2009, 7, 1, 12, 0, 0);
    const time_t summerUtc = 1246464000;
    EXPECT_EQ(summerUtc, static_cast<time_t>(summer));
    EXPECT_EQ(1, static_cast<tm>(summer).tm_isdst);
    EXPECT_EQ(Time(2008, 12, 31, 19, 0, 0), Time(static_cast<time_t>(1230768000)));
    // A time_t compares as the local time it stands for.
    EXPECT_TRUE(summer == summerUtc && summer < summerUtc + 1);
    EXPECT_LE(_abs(time(nullptr), static_cast<time_t>(Time::currentTime())), 1);

    // Through a leap day and the start of summer time (2008-03-09): the arithmetic is UTC.
    Time t(2008, 2, 28, 12, 0, 0);
    t += TimeSpan(static_cast<time_t>(86400));
    EXPECT_EQ(Time(2008, 2, 29, 12, 0, 0), t);
    const Time later = TimeSpan(30, 0, 0, 0) + t;
    EXPECT_EQ(Time(2008, 3, 30, 12, 0, 0), later);
    EXPECT_EQ(30 * 86400, (later - t).totalSeconds());
    Time earlier = t - TimeSpan(0, 12, 0, 1);
    EXPECT_EQ(Time(2008, 2, 28, 23, 59, 59), earlier);
    earlier -= TimeSpan(static_cast<time_t>(-1));
    EXPECT_TRUE(isSameDate(earlier, t) && !isSameHour(earlier, t));
    EXPECT_TRUE(isSameMinute(t, Time(2008, 2, 29, 12, 0, 59)));

    // Span components carry the sign.
    TimeSpan c = TimeSpan(0, 0, 1, 30) - TimeSpan(static_cast<time_t>(180));
    EXPECT_TRUE(0 == (c.days() | c.hours()) && -1 == c.minutes() && -30 == c.seconds());
    c += TimeSpan(static_cast<time_t>(90150));
    EXPECT_TRUE(1 == c.days() && 1 == c.hours() && 1 == c.minutes() && 0 == c.seconds());
    EXPECT_TRUE(25 == c.totalHours() && 1501 == c.totalMinutes());
    c -= TimeSpan(static_cast<time_t>(90150));
    EXPECT_LT(c, TimeSpan());
}

TEST(TimeTest, KxTime32Word)
{
    const Time t(2008, 6, 15, 10, 20, 30);
    EXPECT_EQ(2034580872L, convertToKxTime32(t));
    EXPECT_EQ(t, convertFromKxTime32(2034580872L));
    // A second of 32 or more sets the top bit: the same negative number on every build.
    const Time late(2033, 12, 31, 23, 59, 59);
    EXPECT_LT(convertToKxTime32(late), 0);
    EXPECT_EQ(late, convertFromKxTime32(convertToKxTime32(late)));
    // A year before 2000 is kept modulo 64: 1999 is stored as 63.
    EXPECT_EQ(63, convertToKxTime32(Time(1999, 1, 1, 0, 0, 0)) & 0x3F);
}

TEST(TimeDeathTest, BrokenPreconditionsAreReported)
{
    EXPECT_CHECK_FAILS(Time::daysInMonth(2009, 13), "1 <= month && month <= 12", "daysInMonth");
    EXPECT_CHECK_FAILS((void)static_cast<time_t>(Time()), "isValid()", "operator time_t");
    EXPECT_CHECK_FAILS(
        (void)static_cast<tm>(Time(2007, 2, 29, 0, 0, 0)), "isValid()", "operator tm");
    EXPECT_CHECK_FAILS(Time().dayOfWeek(), "isValid()", "dayOfWeek");
    EXPECT_CHECK_FAILS(TimeSpan(0, -24, 0, 0), "-23 <= hours && hours <= 23", "set");
    EXPECT_CHECK_FAILS(TimeSpan(0, 0, 60, 0), "-59 <= minutes && minutes <= 59", "set");
    EXPECT_CHECK_FAILS(TimeSpan(0, 0, 0, -60), "-59 <= seconds && seconds <= 59", "set");
}
