// Sets TZ for the life of the object and puts back whatever was there before (even nothing).
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace KovanTest {

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
        if (_had)
            setenv("TZ", _old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    bool _had;
    std::string _old;
};

} // namespace KovanTest
