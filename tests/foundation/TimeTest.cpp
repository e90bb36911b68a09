#include "foundation/Time.h"

#include "support/StderrCapture.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

// Sets TZ for the life of the object and puts back whatever was there before.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
    {
        const char* old = getenv("TZ");
        _had = nullptr != old;
        if (_had)
            _old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz()
    {
        if (_had)
            setenv("TZ", _old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool _had;
    std::string _old;
};

tm utcFields(int year, int month, int day, int hour, int minute, int second)
{
    tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

void expectFields(const Time& t, int year, int month, int day, int hour, int minute, int second)
{
    EXPECT_EQ(year, t.year());
    EXPECT_EQ(month, t.month());
    EXPECT_EQ(day, t.day());
    EXPECT_EQ(hour, t.hour());
    EXPECT_EQ(minute, t.minute());
    EXPECT_EQ(second, t.second());
}

} // namespace

TEST(TimeTest, FieldsArePackedAtTheirBitPositions)
{
    Time t(2008, 6, 15, 10, 20, 30);
    const uint32 expected = (38u << 26) | (6u << 22) | (15u << 17) | (10u << 12) | (20u << 6) | 30u;
    EXPECT_EQ(expected, t.toUint32());
    Time copy;
    copy.fromUint32(expected);
    EXPECT_EQ(t, copy);
    expectFields(copy, 2008, 6, 15, 10, 20, 30);
}

TEST(TimeTest, ValidityFollowsTheCalendar)
{
    EXPECT_TRUE(Time(2008, 2, 29, 23, 59, 59).isValid());
    EXPECT_FALSE(Time(2007, 2, 29, 0, 0, 0).isValid());
    EXPECT_TRUE(Time(2000, 2, 29, 0, 0, 0).isValid());
    EXPECT_FALSE(Time(2009, 4, 31, 0, 0, 0).isValid());
    EXPECT_FALSE(Time(2009, 1, 0, 0, 0, 0).isValid());
    EXPECT_FALSE(Time(2009, 0, 1, 0, 0, 0).isValid());
    EXPECT_FALSE(Time(2009, 1, 1, 24, 0, 0).isValid());
    EXPECT_FALSE(Time(2009, 1, 1, 0, 60, 0).isValid());
    EXPECT_FALSE(Time(2009, 1, 1, 0, 0, 60).isValid());
    EXPECT_TRUE(Time(1970, 1, 1, 0, 0, 0).isValid());
    EXPECT_TRUE(Time(2033, 12, 31, 23, 59, 59).isValid());

    EXPECT_TRUE(Time::isLeapYear(2000));
    EXPECT_FALSE(Time::isLeapYear(1900));
    EXPECT_FALSE(Time::isLeapYear(2100));
    EXPECT_TRUE(Time::isLeapYear(2024));
    EXPECT_EQ(29, Time::daysInMonth(2024, 2));
    EXPECT_EQ(28, Time::daysInMonth(2023, 2));
    EXPECT_EQ(31, Time::daysInMonth(2023, 12));
    EXPECT_EQ(30, Time::daysInMonth(2023, 11));
}

TEST(TimeTest, ValuesAreCutToTheirFieldWidths)
{
    // 2100 - 1970 = 130 keeps its low six bits: 2.
    EXPECT_EQ(1972, Time(2100, 1, 1, 0, 0, 0).year());
    Time t(1969, 17, 33, 33, 65, 64);
    expectFields(t, 1970 + 63, 1, 1, 1, 1, 0);
}

TEST(TimeTest, InvalidTimeKeepsItsYear)
{
    Time t;
    EXPECT_FALSE(t.isValid());
    EXPECT_EQ(13, t.month());
    EXPECT_EQ(0, t.day());
    EXPECT_EQ(25, t.hour());
    EXPECT_EQ(61, t.minute());
    EXPECT_EQ(61, t.second());

    Time u(2010, 5, 6, 7, 8, 9);
    u.makeInvalid();
    EXPECT_EQ(2010, u.year());
    EXPECT_FALSE(u.isValid());
    EXPECT_EQ(-1, u.utc_time_t());
}

TEST(TimeTest, WordOrderIsChronological)
{
    const Time times[] = { Time(1970, 1, 1, 0, 0, 0), Time(1999, 12, 31, 23, 59, 59),
        Time(2000, 1, 1, 0, 0, 0), Time(2000, 1, 1, 0, 0, 1), Time(2000, 1, 1, 0, 1, 0),
        Time(2000, 1, 1, 1, 0, 0), Time(2000, 1, 2, 0, 0, 0), Time(2000, 2, 1, 0, 0, 0),
        Time(2033, 12, 31, 23, 59, 59) };
    for (size_t i = 1; i < sizeof(times) / sizeof(times[0]); ++i) {
        EXPECT_LT(times[i - 1], times[i]);
        EXPECT_LE(times[i - 1], times[i]);
        EXPECT_GT(times[i], times[i - 1]);
        EXPECT_NE(times[i], times[i - 1]);
        EXPECT_LT(times[i - 1].utc_time_t(), times[i].utc_time_t());
    }
}

TEST(TimeTest, UtcTimeAgreesWithTimegmForEveryDayWhateverTheZone)
{
    // An unusual offset (+5:45) and one with daylight saving: a local conversion would show.
    ScopedTz tz("Asia/Kathmandu");
    int checked = 0;
    for (int year = 1970; year <= 2033; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= Time::daysInMonth(year, month); ++day) {
                // A different time of day for each date, so every field is exercised.
                const int s = (checked * 7919) % 86400;
                Time t(year, month, day, s / 3600, (s / 60) % 60, s % 60);
                tm fields = utcFields(year, month, day, s / 3600, (s / 60) % 60, s % 60);
                ASSERT_EQ(timegm(&fields), t.utc_time_t())
                    << year << "-" << month << "-" << day << " +" << s;
                ++checked;
            }
        }
    }
    EXPECT_EQ(23376, checked);

    const char* zones[] = { "UTC", "America/New_York", "Australia/Lord_Howe", "Pacific/Kiritimati" };
    for (const char* zone : zones) {
        ScopedTz inner(zone);
        for (int year = 1970; year <= 2033; year += 3) {
            Time t(year, 3, 31, 2, 30, 0);
            tm fields = utcFields(year, 3, 31, 2, 30, 0);
            EXPECT_EQ(timegm(&fields), t.utc_time_t()) << zone << " " << year;
        }
    }
}

TEST(TimeTest, UtcMkTimeRejectsFieldsThatNameNoInstantAndRollsSecondsOver)
{
    tm feb31 = utcFields(2009, 2, 31, 0, 0, 0);
    EXPECT_EQ(-1, Time::utcMkTime(&feb31));
    tm hour24 = utcFields(2009, 1, 1, 24, 0, 0);
    EXPECT_EQ(-1, Time::utcMkTime(&hour24));
    tm leap = utcFields(2008, 12, 31, 23, 59, 60);
    EXPECT_EQ(1230768000, Time::utcMkTime(&leap));
    tm epoch = utcFields(1970, 1, 1, 0, 0, 0);
    EXPECT_EQ(0, Time::utcMkTime(&epoch));
    tm before = utcFields(1969, 12, 31, 23, 59, 59);
    EXPECT_EQ(-1, Time::utcMkTime(&before));
    tm early = utcFields(1901, 12, 13, 20, 45, 52);
    EXPECT_EQ(timegm(&early), Time::utcMkTime(&early));
    tm late = utcFields(2038, 1, 19, 3, 14, 8);
    EXPECT_EQ(timegm(&late), Time::utcMkTime(&late));
}

TEST(TimeTest, UtcRoundTripIsIndependentOfTheZone)
{
    for (const char* zone : { "UTC", "America/Los_Angeles", "Asia/Tokyo" }) {
        ScopedTz tz(zone);
        Time t(2009, 1, 1, 0, 0, 0);
        EXPECT_EQ(1230768000, t.utc_time_t()) << zone;
        Time back;
        back.setUtcTime(1230768000);
        EXPECT_EQ(t, back) << zone;
    }
}

TEST(TimeTest, LocalConversionsFollowTheZone)
{
    ScopedTz tz("America/New_York");
    // 2009-07-01 12:00 EDT is 16:00 UTC.
    Time summer(2009, 7, 1, 12, 0, 0);
    EXPECT_EQ(1246464000, static_cast<time_t>(summer));
    tm fields = summer;
    EXPECT_EQ(1, fields.tm_isdst);
    EXPECT_EQ(3, fields.tm_wday);
    EXPECT_EQ(181, fields.tm_yday);
    expectFields(Time(static_cast<time_t>(1246464000)), 2009, 7, 1, 12, 0, 0);
    Time winter;
    winter = static_cast<time_t>(1230768000);
    expectFields(winter, 2008, 12, 31, 19, 0, 0);

    // Comparisons with a time_t take it as local time, like Time(time_t).
    EXPECT_TRUE(summer == static_cast<time_t>(1246464000));
    EXPECT_TRUE(summer < static_cast<time_t>(1246464001));
    EXPECT_TRUE(summer >= static_cast<time_t>(1246464000));
    EXPECT_TRUE(summer > static_cast<time_t>(1246463999));
}

TEST(TimeTest, CurrentTimeIsTheLocalNow)
{
    ScopedTz tz("Asia/Tokyo");
    const time_t before = time(nullptr);
    const Time now = Time::currentTime();
    const time_t after = time(nullptr);
    EXPECT_TRUE(now.isValid());
    EXPECT_LE(before, static_cast<time_t>(now));
    EXPECT_GE(after, static_cast<time_t>(now));
}

TEST(TimeTest, DayOfWeek)
{
    EXPECT_EQ(Time::THU, Time(1970, 1, 1, 0, 0, 0).dayOfWeek());
    EXPECT_EQ(Time::TUE, Time(2000, 2, 29, 12, 0, 0).dayOfWeek());
    EXPECT_EQ(Time::SAT, Time(2033, 12, 31, 23, 59, 59).dayOfWeek());
    // Against the system library for the first of every month.
    for (int year = 1970; year <= 2033; ++year) {
        for (int month = 1; month <= 12; ++month) {
            Time t(year, month, 1, 0, 0, 0);
            tm broken;
            ASSERT_TRUE(Time::gmTime(t.utc_time_t(), &broken));
            ASSERT_EQ(broken.tm_wday, t.dayOfWeek()) << year << "-" << month;
        }
    }
}

TEST(TimeTest, SameDateHourMinute)
{
    Time a(2009, 5, 6, 10, 59, 59);
    Time b(2009, 5, 6, 11, 0, 0);
    EXPECT_TRUE(isSameDate(a, b));
    EXPECT_FALSE(isSameHour(a, b));
    EXPECT_FALSE(isSameMinute(a, b));
    Time c(2009, 5, 6, 10, 59, 0);
    EXPECT_TRUE(isSameMinute(a, c));
    EXPECT_TRUE(isSameHour(a, c));
    EXPECT_FALSE(isSameDate(a, Time(2009, 6, 6, 10, 59, 59)));
    EXPECT_FALSE(isSameDate(a, Time(2010, 5, 6, 10, 59, 59)));
}

TEST(TimeTest, TimeSpanComponentsCarryTheSign)
{
    TimeSpan minus90(static_cast<time_t>(-90));
    EXPECT_EQ(0, minus90.days());
    EXPECT_EQ(0, minus90.hours());
    EXPECT_EQ(-1, minus90.minutes());
    EXPECT_EQ(-30, minus90.seconds());
    EXPECT_EQ(-90, minus90.totalSeconds());

    TimeSpan s(static_cast<time_t>(90061));
    EXPECT_EQ(1, s.days());
    EXPECT_EQ(1, s.hours());
    EXPECT_EQ(1, s.minutes());
    EXPECT_EQ(1, s.seconds());
    EXPECT_EQ(25, s.totalHours());
    EXPECT_EQ(1501, s.totalMinutes());
    EXPECT_EQ(90061, s.totalSeconds());

    TimeSpan zero;
    EXPECT_EQ(0, zero.totalSeconds());
    TimeSpan mixed(2, -3, 4, -5);
    EXPECT_EQ(((2 * 24 - 3) * 60 + 4) * 60 - 5, mixed.totalSeconds());
}

TEST(TimeTest, TimeSpanArithmeticAndComparisons)
{
    TimeSpan a(static_cast<time_t>(90));
    TimeSpan b(0, 0, 1, 30);
    EXPECT_EQ(a, b);
    EXPECT_EQ(180, (a + b).totalSeconds());
    EXPECT_EQ(0, (a - b).totalSeconds());
    TimeSpan c = a - TimeSpan(static_cast<time_t>(100));
    EXPECT_EQ(-10, c.totalSeconds());
    EXPECT_EQ(-10, c.seconds());
    c += TimeSpan(static_cast<time_t>(3600));
    EXPECT_EQ(3590, c.totalSeconds());
    EXPECT_EQ(59, c.minutes());
    c -= TimeSpan(static_cast<time_t>(7200));
    EXPECT_EQ(-3610, c.totalSeconds());
    EXPECT_LT(c, a);
    EXPECT_GT(a, c);
    EXPECT_LE(a, b);
    EXPECT_GE(a, b);
    EXPECT_NE(a, c);
    TimeSpan copy;
    copy.set(c);
    EXPECT_EQ(-1, copy.hours());
}

TEST(TimeTest, AddingSpansWalksTheCalendarInUtc)
{
    // Daylight saving begins in Europe on 2008-03-30; UTC arithmetic must not notice.
    ScopedTz tz("Europe/Berlin");
    Time t(2008, 2, 28, 12, 0, 0);
    t += TimeSpan(static_cast<time_t>(86400));
    expectFields(t, 2008, 2, 29, 12, 0, 0);
    t += TimeSpan(static_cast<time_t>(86400));
    expectFields(t, 2008, 3, 1, 12, 0, 0);
    Time later = t + TimeSpan(30, 0, 0, 0);
    expectFields(later, 2008, 3, 31, 12, 0, 0);
    expectFields(TimeSpan(30, 0, 0, 0) + t, 2008, 3, 31, 12, 0, 0);
    EXPECT_EQ(30 * 86400, (later - t).totalSeconds());
    EXPECT_EQ(-30, (t - later).days());
    Time earlier = t - TimeSpan(0, 12, 0, 1);
    expectFields(earlier, 2008, 2, 29, 23, 59, 59);
    earlier -= TimeSpan(static_cast<time_t>(-1));
    expectFields(earlier, 2008, 3, 1, 0, 0, 0);
}

TEST(TimeTest, KxTime32Word)
{
    Time t(2008, 6, 15, 10, 20, 30);
    EXPECT_EQ(2034580872L, convertToKxTime32(t));
    EXPECT_EQ(t, convertFromKxTime32(2034580872L));

    // A second of 32 or more sets the top bit: the same negative number on every build.
    Time late(2033, 12, 31, 23, 59, 59);
    const long word = convertToKxTime32(late);
    EXPECT_LT(word, 0);
    EXPECT_EQ(late, convertFromKxTime32(word));

    // A year before 2000 is kept modulo 64: 1999 reads back as 2063 from the word.
    EXPECT_EQ(63, convertToKxTime32(Time(1999, 1, 1, 0, 0, 0)) & 0x3F);
}

TEST(TimeTest, BrokenPreconditionsAreReported)
{
    EXPECT_CHECK_FAILS(Time::daysInMonth(2009, 13), "1 <= month && month <= 12", "daysInMonth");
    EXPECT_CHECK_FAILS(Time::daysInMonth(2009, 0), "1 <= month && month <= 12", "daysInMonth");
    EXPECT_CHECK_FAILS((void)static_cast<time_t>(Time()), "isValid()", "operator time_t");
    EXPECT_CHECK_FAILS((void)static_cast<tm>(Time(2007, 2, 29, 0, 0, 0)), "isValid()", "operator tm");
    EXPECT_CHECK_FAILS(TimeSpan(0, 24, 0, 0), "-23 <= hours && hours <= 23", "set");
    EXPECT_CHECK_FAILS(TimeSpan(0, -24, 0, 0), "-23 <= hours && hours <= 23", "set");
    EXPECT_CHECK_FAILS(TimeSpan(0, 0, 60, 0), "-59 <= minutes && minutes <= 59", "set");
    EXPECT_CHECK_FAILS(TimeSpan(0, 0, 0, -60), "-59 <= seconds && seconds <= 59", "set");
    EXPECT_CHECK_FAILS(Time().dayOfWeek(), "isValid()", "dayOfWeek");
}
