// The clock seam (CMake target `kovan_clock_seam`): -Wl,--wrap puts recorders in place of
// settimeofday, adjtime and clock_settime (never forwarded); gettimeofday, time and adjtimex's
// questions are forwarded unless a test fixes "now" or the synchronised state (adjtimex refuses
// any change with EPERM). Shared libraries are not redirected, so the program also drops
// CAP_SYS_TIME before main, or aborts. A program a test runs starts from its environment, as
// reset() does: KOVAN_CLOCK_SEAM_SYNCHRONISED=1|0, KOVAN_CLOCK_SEAM_NOW=SECONDS.MICROSECONDS (six
// digits) as setNow, and KOVAN_CLOCK_SEAM_LOG, a file that gets a line per recorded call
// ("settimeofday 1246464002 150000", "adjtime -1 750000", "clock_settime 0 1246464002 150000").
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

struct ClockSeam {
    // Forgets every call, makes every call succeed again and lets "now" run with the real clock;
    // then applies the environment's settings.
    static void reset();
    static std::vector<ClockCall> calls();
    static std::size_t count(ClockCall::Kind kind);
    // 0: calls of this kind succeed; otherwise they return -1 with this errno (still recorded).
    static void setError(ClockCall::Kind kind, int errnoValue);
    // gettimeofday and time answer this fixed instant until reset().
    static void setNow(const timeval& now);
    // adjtimex reports the clock synchronised or not, with this maximum and estimated error
    // (microseconds) and, when synchronised, this state (TIME_INS, TIME_DEL...), until reset().
    static void setSynchronised(bool synchronised, long maxErrorUs = 0, int state = 0);
};

// Whether the calling thread holds CAP_SYS_TIME, effective or in the bounding set.
bool holdsClockCapability();

} // namespace KovanTest
