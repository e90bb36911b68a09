// Sets TZ for the life of the object and puts back whatever was there before (even nothing).
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace KovanTest {

class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
        : _had(nullptr != getenv("TZ"))
        , _old(_had ? getenv("TZ") : "")
    {
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
    const bool _had;
    const std::string _old;
};

} // namespace KovanTest
