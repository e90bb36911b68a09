// Calendar helpers shared by the time tests.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>

namespace KovanTest {

// Sets TZ for the life of the object and puts back whatever was there before (even nothing).
class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
    {
        if (const char* old = getenv("TZ")) // read once: a second read need not agree
            _old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz()
    {
        _old ? setenv("TZ", _old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    std::optional<std::string> _old;
};

// The broken-down fields of a calendar time, as the C library counts them.
inline tm fields(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    tm t = {};
    std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec)
        = std::make_tuple(year - 1900, month - 1, day, hour, minute, second);
    return t;
}

} // namespace KovanTest
