// Calendar helpers shared by the time tests.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace KovanTest {

// Sets TZ for the life of the object and puts back whatever was there before (even nothing).
class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
    {
        const char* old = getenv("TZ");
        _had = nullptr != old;
        _old = _had ? old : "";
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz()
    {
        _had ? setenv("TZ", _old.c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    bool _had;
    std::string _old;
};

// The broken-down fields of a calendar time, as the C library counts them.
inline tm fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
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

} // namespace KovanTest
