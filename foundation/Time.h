// Calendar time to the second packed into one 32-bit word (years 1970..2033), a signed span of
// days, hours, minutes and seconds, the conversions to and from the system library's tm and
// time_t, and the packed date-time word based at the year 2000 (KxTime32).
//
// Local conversions (Time(time_t), operator time_t, operator tm) follow the process's time zone;
// everything named utc, and all arithmetic between Time and TimeSpan, reads the fields as UTC, so
// its results never shift with TZ or a daylight-saving change.
//
// Thread safety: Time and TimeSpan are plain values; the conversions are reentrant; setting
// the system clock is for one thread at a time.
#pragma once

#include "foundation/Types.h"

#include <ctime>

namespace Kovan {

class Rtc;
class TimeSpan;

class Time {
public:
    enum DayOfWeek { SUN = 0, MON = 1, TUE = 2, WED = 3, THU = 4, FRI = 5, SAT = 6 };

    // A default-constructed Time is invalid.
    Time();
    Time(int32 year, int32 month, int32 day, int32 hour, int32 minute, int32 second);
    // The local civil time of `t`.
    explicit Time(time_t t);
    Time(const Time& other);
    ~Time() { }

    Time& operator=(const Time& other);
    Time& operator=(time_t t);

    void set(const Time& other);
    // Each value is cut to its field width (the low bits stay); nothing is validated, so
    // 2100 is stored as 1972 and 31 February is kept as given (and isValid() says false).
    void set(int32 year, int32 month, int32 day, int32 hour, int32 minute, int32 second);
    // Local civil time; invalid when the system library cannot break `t` down.
    void set(time_t t);
    // The same as UTC fields.
    void setUtcTime(time_t t);
    // Month 13, day 0, hour 25, minute 61, second 61; the year is kept.
    void makeInvalid();

    int32 year() const { return 1970 + static_cast<int32>(_field.year); }
    int32 month() const { return static_cast<int32>(_field.month); }
    int32 day() const { return static_cast<int32>(_field.day); }
    int32 hour() const { return static_cast<int32>(_field.hour); }
    int32 minute() const { return static_cast<int32>(_field.minute); }
    int32 second() const { return static_cast<int32>(_field.second); }
    // SUN..SAT of the date; checks "isValid()".
    DayOfWeek dayOfWeek() const;
    bool isValid() const;

    // The packed word: ordering words orders valid times chronologically.
    uint32 toUint32() const { return _value; }
    void fromUint32(uint32 value) { _value = value; }

    // The fields read as local civil time (mktime, daylight saving decided by the library);
    // the time must be valid.
    operator tm() const;
    operator time_t() const;
    // The fields read as UTC, whatever TZ says; -1 when they name no instant.
    time_t utc_time_t() const;

    // Comparisons work on the packed word; a time_t is taken as local time, like Time(time_t).
    bool operator==(const Time& t) const { return _value == t._value; }
    bool operator!=(const Time& t) const { return _value != t._value; }
    bool operator<(const Time& t) const { return _value < t._value; }
    bool operator<=(const Time& t) const { return _value <= t._value; }
    bool operator>(const Time& t) const { return _value > t._value; }
    bool operator>=(const Time& t) const { return _value >= t._value; }
    bool operator==(time_t t) const { return *this == Time(t); }
    bool operator!=(time_t t) const { return *this != Time(t); }
    bool operator<(time_t t) const { return *this < Time(t); }
    bool operator<=(time_t t) const { return *this <= Time(t); }
    bool operator>(time_t t) const { return *this > Time(t); }
    bool operator>=(time_t t) const { return *this >= Time(t); }

    static bool isLeapYear(int32 year);
    // Checks "1 <= month && month <= 12".
    static int32 daysInMonth(int32 year, int32 month);
    static bool localTime(time_t t, tm* out);
    static bool gmTime(time_t t, tm* out);
    // mktime: local time, normalises *tm.
    static time_t mkTime(tm* tm);
    // The inverse of gmtime, independent of TZ: -1 when the fields name no instant (31 February,
    // hour 24). Seconds above 59 roll over into the next minute.
    static time_t utcMkTime(const tm* tm);

    // The present local time.
    static Time currentTime();
    // Steps the system clock to `t` (local civil time, whole second) and, when an Rtc is
    // registered, writes `t` into it too. Checks "t.isValid()".
    static void setCurrentTime(const Time& t);
    // The RTC that setCurrentTime keeps in step; not owned, null at start.
    static Rtc* rtc() { return _rtc; }
    static void setRtc(Rtc* rtc) { _rtc = rtc; }

private:
    // Bit 0 is the least significant: second 0-5, minute 6-11, hour 12-16, day 17-21,
    // month 22-25, year - 1970 26-31.
    struct Field {
        uint32 second : 6;
        uint32 minute : 6;
        uint32 hour : 5;
        uint32 day : 5;
        uint32 month : 4;
        uint32 year : 6;
    };

    union {
        uint32 _value;
        Field _field;
    };

    static Rtc* _rtc;
};

static_assert(sizeof(Time) == 4, "a Time is one 32-bit word");

bool isSameDate(const Time& a, const Time& b);
bool isSameHour(const Time& a, const Time& b);
bool isSameMinute(const Time& a, const Time& b);

class TimeSpan {
public:
    TimeSpan();
    // Every component carries the sign of `seconds`.
    explicit TimeSpan(time_t seconds);
    TimeSpan(int32 days, int32 hours, int32 minutes, int32 seconds);

    void set(time_t seconds);
    // Checks "-23 <= hours && hours <= 23", then the minute and second texts; days are free.
    void set(int32 days, int32 hours, int32 minutes, int32 seconds);
    void set(const TimeSpan& other);

    int32 days() const { return _days; }
    int32 hours() const { return _hours; }
    int32 minutes() const { return _minutes; }
    int32 seconds() const { return _seconds; }

    int32 totalHours() const;
    int32 totalMinutes() const;
    // Signed 32-bit: spans beyond about 68 years do not fit.
    int32 totalSeconds() const;

    TimeSpan operator+(const TimeSpan& s) const;
    TimeSpan operator-(const TimeSpan& s) const;
    TimeSpan& operator+=(const TimeSpan& s);
    TimeSpan& operator-=(const TimeSpan& s);
    Time operator+(const Time& t) const;

    // Spans compare by their length, so 0:90 equals 1:30.
    bool operator==(const TimeSpan& s) const { return total64() == s.total64(); }
    bool operator!=(const TimeSpan& s) const { return total64() != s.total64(); }
    bool operator<(const TimeSpan& s) const { return total64() < s.total64(); }
    bool operator<=(const TimeSpan& s) const { return total64() <= s.total64(); }
    bool operator>(const TimeSpan& s) const { return total64() > s.total64(); }
    bool operator>=(const TimeSpan& s) const { return total64() >= s.total64(); }

private:
    int64 total64() const;

    int32 _days;
    int32 _hours;
    int32 _minutes;
    int32 _seconds;
};

TimeSpan operator-(const Time& t1, const Time& t2);
Time& operator+=(Time& t, const TimeSpan& s);
Time& operator-=(Time& t, const TimeSpan& s);
Time operator+(const Time& t, const TimeSpan& s);
Time operator-(const Time& t, const TimeSpan& s);

// The packed date-time word based at 2000 (bit 0 the least significant). The word travels as a
// long holding the 32 bits as a signed value, so the same number comes out on 32- and 64-bit
// builds (a second of 32 or more makes it negative). Years outside 2000..2063 are stored
// modulo 64.
union KxTime32 {
    struct Field {
        uint32 year : 6; // year - 2000
        uint32 mon : 4;
        uint32 day : 5;
        uint32 hour : 5;
        uint32 min : 6;
        uint32 sec : 6;
    };
    uint32 _value;
    Field _field;
};

static_assert(sizeof(KxTime32) == 4, "a KxTime32 is one 32-bit word");

long convertToKxTime32(const Time& t);
Time convertFromKxTime32(long v);

} // namespace Kovan
