// The clock seam: test programs that reach the calls changing the system clock link the CMake
// target `kovan_clock_seam` (an object library, so the recorders are always in the program). Its
// link options -Wl,--wrap=NAME put recorders in place of settimeofday, adjtime and clock_settime
// (never forwarded: they succeed unless a test asks for a failure) and of gettimeofday and time
// (forwarded unless a test fixes "now"). Only the program's own objects and static libraries are
// redirected, not shared libraries; so, as a second guard, the program drops CAP_SYS_TIME before
// main runs and aborts if it still holds it. The recorder is shared by all threads, under a lock.
//
//     KovanTest::ClockSeam::reset();
//     KovanTest::ClockSeam::setNow({ 100, 250000 });
//     ... code under test ...
//     ASSERT_EQ(1u, KovanTest::ClockSeam::count(KovanTest::ClockCall::ADJTIME));
//     EXPECT_EQ(59, KovanTest::ClockSeam::calls()[0].tv.tv_sec);
#pragma once

#include <cstddef>
#include <ctime>
#include <sys/time.h>
#include <vector>

namespace KovanTest {

struct ClockCall {
    enum Kind { SETTIMEOFDAY, ADJTIME, CLOCK_SETTIME };
    Kind kind;
    // settimeofday: the new time; adjtime: the requested correction; clock_settime: the new
    // time with nanoseconds cut to microseconds (and `clock` says which clock).
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

// Drops CAP_SYS_TIME from the calling thread (done for the whole program before main runs);
// true when the thread no longer holds it.
bool dropClockCapability();
// Whether the calling thread could change the clock: CAP_SYS_TIME effective or in the bounding
// set.
bool holdsClockCapability();

} // namespace KovanTest
