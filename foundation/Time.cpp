#include "foundation/Time.h"

#include "foundation/Trace.h"

#include <cstring>
#include <limits>

namespace Kovan {

namespace {

// Days before each month of a common year; index 12 is the whole year.
const int32 DAYS_BEFORE_MONTH[13] = { 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365 };

// Leap years from year 1 up to and including `year` (year >= 1).
int32 leapYearsThrough(int32 year) { return year / 4 - year / 100 + year / 400; }

// The first difference, in the order year, month, day, hour, minute, second, decides: below 0
// when `a` is earlier than `b`.
int tmcomp(const tm* a, const tm* b)
{
    int result = a->tm_year - b->tm_year;
    if (0 == result)
        result = a->tm_mon - b->tm_mon;
    if (0 == result)
        result = a->tm_mday - b->tm_mday;
    if (0 == result)
        result = a->tm_hour - b->tm_hour;
    if (0 == result)
        result = a->tm_min - b->tm_min;
    if (0 == result)
        result = a->tm_sec - b->tm_sec;
    return result;
}

tm fieldsToTm(const Time& t)
{
    tm out;
    memset(&out, 0, sizeof(out));
    out.tm_year = t.year() - 1900;
    out.tm_mon = t.month() - 1;
    out.tm_mday = t.day();
    out.tm_hour = t.hour();
    out.tm_min = t.minute();
    out.tm_sec = t.second();
    out.tm_isdst = -1;
    return out;
}

} // namespace

Rtc* Time::_rtc = nullptr;

Time::Time()
{
    _value = 0;
    makeInvalid();
}

Time::Time(int32 year, int32 month, int32 day, int32 hour, int32 minute, int32 second)
{
    _value = 0;
    set(year, month, day, hour, minute, second);
}

Time::Time(time_t t)
{
    _value = 0;
    set(t);
}

Time::Time(const Time& other) = default;

Time& Time::operator=(const Time& other) = default;

Time& Time::operator=(time_t t)
{
    set(t);
    return *this;
}

void Time::set(const Time& other) { _value = other._value; }

void Time::set(int32 year, int32 month, int32 day, int32 hour, int32 minute, int32 second)
{
    // Unsigned bit-fields keep the low bits of what they are given.
    _field.year = static_cast<uint32>(year - 1970);
    _field.month = static_cast<uint32>(month);
    _field.day = static_cast<uint32>(day);
    _field.hour = static_cast<uint32>(hour);
    _field.minute = static_cast<uint32>(minute);
    _field.second = static_cast<uint32>(second);
}

void Time::set(time_t t)
{
    tm local;
    if (localTime(t, &local))
        set(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
            local.tm_sec);
    else
        makeInvalid();
}

void Time::setUtcTime(time_t t)
{
    tm utc;
    if (gmTime(t, &utc))
        set(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    else
        makeInvalid();
}

void Time::makeInvalid()
{
    _field.month = 13;
    _field.day = 0;
    _field.hour = 25;
    _field.minute = 61;
    _field.second = 61;
}

Time::DayOfWeek Time::dayOfWeek() const
{
    KOVAN_CHECK(isValid());
    const int32 y = year();
    int32 days = 365 * (y - 1970) + leapYearsThrough(y - 1) - leapYearsThrough(1969)
        + DAYS_BEFORE_MONTH[month() - 1] + day() - 1;
    if (month() > 2 && isLeapYear(y))
        ++days;
    // 1 January 1970 was a Thursday.
    return static_cast<DayOfWeek>((days + THU) % 7);
}

bool Time::isValid() const
{
    // The month goes first: daysInMonth checks its range.
    return 1 <= month() && month() <= 12 && 1 <= day() && day() <= daysInMonth(year(), month())
        && hour() <= 23 && minute() <= 59 && second() <= 59;
}

Time::operator tm() const
{
    KOVAN_CHECK_IN(isValid(), "operator tm");
    tm out = fieldsToTm(*this);
    mkTime(&out);
    return out;
}

Time::operator time_t() const
{
    KOVAN_CHECK_IN(isValid(), "operator time_t");
    tm out = fieldsToTm(*this);
    return mkTime(&out);
}

time_t Time::utc_time_t() const
{
    const tm fields = fieldsToTm(*this);
    return utcMkTime(&fields);
}

bool Time::isLeapYear(int32 year) { return (0 == year % 4 && 0 != year % 100) || 0 == year % 400; }

int32 Time::daysInMonth(int32 year, int32 month)
{
    KOVAN_CHECK(1 <= month && month <= 12);
    int32 days = DAYS_BEFORE_MONTH[month] - DAYS_BEFORE_MONTH[month - 1];
    if (2 == month && isLeapYear(year))
        ++days;
    return days;
}

bool Time::localTime(time_t t, tm* out) { return nullptr != localtime_r(&t, out); }

bool Time::gmTime(time_t t, tm* out) { return nullptr != gmtime_r(&t, out); }

time_t Time::mkTime(tm* tm) { return mktime(tm); }

time_t Time::utcMkTime(const tm* in)
{
    tm target = *in;
    // Search for a second the calendar can name and add the rest (a leap second, or any other
    // overflow of the field) afterwards: searching from :00 would lose the last seconds at the
    // ends of a 32-bit time_t.
    int extra = 0;
    if (target.tm_sec < 0)
        extra = target.tm_sec;
    else if (target.tm_sec > 59)
        extra = target.tm_sec - 59;
    target.tm_sec -= extra;

    // Binary search over the whole signed range of time_t, whatever its width: the first step
    // is half the positive range, the last one a single second.
    int bits = std::numeric_limits<time_t>::digits;
    time_t t = 0;
    for (;;) {
        tm broken;
        int direction;
        if (gmTime(t, &broken))
            direction = tmcomp(&broken, &target);
        else
            // Only the far ends of a 64-bit time_t have no calendar year the library can hold.
            direction = t < 0 ? -1 : 1;
        if (0 == direction)
            break;
        if (bits < 0)
            return -1;
        --bits;
        if (bits < 0)
            --t;
        else if (direction > 0)
            t -= static_cast<time_t>(1) << bits;
        else
            t += static_cast<time_t>(1) << bits;
    }
    if ((extra > 0 && t > std::numeric_limits<time_t>::max() - extra)
        || (extra < 0 && t < std::numeric_limits<time_t>::min() - extra))
        return -1;
    return t + extra;
}

Time Time::currentTime() { return Time(time(nullptr)); }

bool isSameDate(const Time& a, const Time& b)
{
    return a.year() == b.year() && a.month() == b.month() && a.day() == b.day();
}

bool isSameHour(const Time& a, const Time& b) { return isSameDate(a, b) && a.hour() == b.hour(); }

bool isSameMinute(const Time& a, const Time& b)
{
    return isSameHour(a, b) && a.minute() == b.minute();
}

TimeSpan::TimeSpan()
    : _days(0)
    , _hours(0)
    , _minutes(0)
    , _seconds(0)
{
}

TimeSpan::TimeSpan(time_t seconds) { set(seconds); }

TimeSpan::TimeSpan(int32 days, int32 hours, int32 minutes, int32 seconds)
{
    set(days, hours, minutes, seconds);
}

void TimeSpan::set(time_t s)
{
    // C++ division and remainder truncate toward zero: every component keeps the sign of s.
    _days = static_cast<int32>(s / 86400);
    _hours = static_cast<int32>((s / 3600) % 24);
    _minutes = static_cast<int32>((s / 60) % 60);
    _seconds = static_cast<int32>(s % 60);
}

void TimeSpan::set(int32 days, int32 hours, int32 minutes, int32 seconds)
{
    KOVAN_CHECK(-23 <= hours && hours <= 23);
    KOVAN_CHECK(-59 <= minutes && minutes <= 59);
    KOVAN_CHECK(-59 <= seconds && seconds <= 59);
    _days = days;
    _hours = hours;
    _minutes = minutes;
    _seconds = seconds;
}

void TimeSpan::set(const TimeSpan& other) { *this = other; }

int32 TimeSpan::totalHours() const
{
    return static_cast<int32>(static_cast<int64>(_days) * 24 + _hours);
}

int32 TimeSpan::totalMinutes() const
{
    return static_cast<int32>((static_cast<int64>(_days) * 24 + _hours) * 60 + _minutes);
}

int32 TimeSpan::totalSeconds() const { return static_cast<int32>(total64()); }

int64 TimeSpan::total64() const
{
    return ((static_cast<int64>(_days) * 24 + _hours) * 60 + _minutes) * 60 + _seconds;
}

TimeSpan TimeSpan::operator+(const TimeSpan& s) const
{
    return TimeSpan(static_cast<time_t>(totalSeconds()) + s.totalSeconds());
}

TimeSpan TimeSpan::operator-(const TimeSpan& s) const
{
    return TimeSpan(static_cast<time_t>(totalSeconds()) - s.totalSeconds());
}

TimeSpan& TimeSpan::operator+=(const TimeSpan& s) { return *this = *this + s; }

TimeSpan& TimeSpan::operator-=(const TimeSpan& s) { return *this = *this - s; }

Time TimeSpan::operator+(const Time& t) const { return t + *this; }

TimeSpan operator-(const Time& t1, const Time& t2)
{
    return TimeSpan(t1.utc_time_t() - t2.utc_time_t());
}

Time& operator+=(Time& t, const TimeSpan& s)
{
    t.setUtcTime(t.utc_time_t() + s.totalSeconds());
    return t;
}

Time& operator-=(Time& t, const TimeSpan& s)
{
    t.setUtcTime(t.utc_time_t() - s.totalSeconds());
    return t;
}

Time operator+(const Time& t, const TimeSpan& s)
{
    Time result(t);
    result += s;
    return result;
}

Time operator-(const Time& t, const TimeSpan& s)
{
    Time result(t);
    result -= s;
    return result;
}

long convertToKxTime32(const Time& t)
{
    KxTime32 word;
    word._value = 0;
    word._field.year = static_cast<uint32>(t.year() - 2000);
    word._field.mon = static_cast<uint32>(t.month());
    word._field.day = static_cast<uint32>(t.day());
    word._field.hour = static_cast<uint32>(t.hour());
    word._field.min = static_cast<uint32>(t.minute());
    word._field.sec = static_cast<uint32>(t.second());
    return static_cast<long>(static_cast<int32>(word._value));
}

Time convertFromKxTime32(long v)
{
    KxTime32 word;
    word._value = static_cast<uint32>(v);
    return Time(static_cast<int32>(word._field.year) + 2000, static_cast<int32>(word._field.mon),
        static_cast<int32>(word._field.day), static_cast<int32>(word._field.hour),
        static_cast<int32>(word._field.min), static_cast<int32>(word._field.sec));
}

} // namespace Kovan
