// The clock seam: test programs that reach the calls changing the system clock link the CMake
// target `kovan_clock_seam`, whose -Wl,--wrap options put recorders in place of settimeofday,
// adjtime and clock_settime (never forwarded: they succeed unless a test asks for a failure) and
// of gettimeofday and time (forwarded unless a test fixes "now"). Shared libraries are not
// redirected; so, as a second guard, the program drops CAP_SYS_TIME before main runs and aborts
// if it still holds it. The recorder is shared by all threads, under a lock.
#pragma once

#include <cstddef>
#include <ctime>
#include <sys/time.h>
#include <vector>

namespace KovanTest {

struct ClockCall {
    enum Kind { SETTIMEOFDAY, ADJTIME, CLOCK_SETTIME };
    Kind kind;
    // The new time (clock_settime's cut to microseconds, on `clock`), or adjtime's correction.
    timeval tv;
    clockid_t clock;
};

class ClockSeam {
public:
    // Forgets every call, makes every call succeed again and lets "now" run with the real clock.
    static void reset();
    static std::vector<ClockCall> calls();
    static std::size_t count(ClockCall::Kind kind);
    // 0: calls of this kind succeed; otherwise they return -1 with this errno (still recorded).
    static void setError(ClockCall::Kind kind, int errnoValue);
    // gettimeofday and time answer this fixed instant until clearNow() or reset().
    static void setNow(const timeval& now);
    static void clearNow();
};

// Whether the calling thread could change the clock: CAP_SYS_TIME effective or in the bounding
// set.
bool holdsClockCapability();

} // namespace KovanTest
