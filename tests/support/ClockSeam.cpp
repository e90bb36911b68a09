#include "support/ClockSeam.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <linux/capability.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace KovanTest {

namespace {

struct State {
    std::vector<ClockCall> calls;
    int errors[3] = { 0, 0, 0 };
    bool fixedNow = false;
    timeval now = { 0, 0 };
};

// Built on first use and never destroyed: the wrappers may be called during other objects'
// static initialisation or exit.
struct Recorder {
    std::mutex mutex;
    State state;
};
Recorder& recorder()
{
    static auto* r = new Recorder;
    return *r;
}

// The recorder's state, locked for the life of this object (of the full expression for a
// temporary).
struct Locked : std::lock_guard<std::mutex> {
    Locked()
        : std::lock_guard<std::mutex>(recorder().mutex)
    {
    }
    State& s = recorder().state;
};

int record(ClockCall::Kind kind, const timeval& tv, clockid_t clock)
{
    Locked l;
    l.s.calls.push_back(ClockCall { kind, tv, clock });
    if (0 == l.s.errors[kind])
        return 0;
    errno = l.s.errors[kind];
    return -1;
}

// The fixed "now" into `now`; false when the real clock answers.
bool fixedNow(timeval* now)
{
    Locked l;
    *now = l.s.now;
    return l.s.fixedNow;
}

bool readCapabilities(__user_cap_data_struct data[2])
{
    __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
    return 0 == syscall(SYS_capget, &header, data);
}

} // namespace

void ClockSeam::reset() { Locked().s = State(); }

std::vector<ClockCall> ClockSeam::calls() { return Locked().s.calls; }

std::size_t ClockSeam::count(ClockCall::Kind kind)
{
    Locked l;
    return static_cast<std::size_t>(std::count_if(
        l.s.calls.begin(), l.s.calls.end(), [&](const ClockCall& c) { return c.kind == kind; }));
}

void ClockSeam::setError(ClockCall::Kind kind, int errnoValue)
{
    Locked().s.errors[kind] = errnoValue;
}

void ClockSeam::setNow(const timeval& now)
{
    Locked l;
    l.s.fixedNow = true;
    l.s.now = now;
}

void ClockSeam::clearNow() { Locked().s.fixedNow = false; }

bool holdsClockCapability()
{
    __user_cap_data_struct data[2];
    return !readCapabilities(data)
        || 0 != (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME))
        || 1 == prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0);
}

namespace {

// Before main: a program linked with the seam can never change the clock, seam or not. Dropping
// from the bounding set needs CAP_SETPCAP; without it the process cannot hold CAP_SYS_TIME
// through exec either, and the check below says whether the clock is out of reach.
[[maybe_unused]] const bool clockCapabilityDropped = [] {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    __user_cap_data_struct data[2];
    if (readCapabilities(data)) {
        for (unsigned* set : { &data[CAP_TO_INDEX(CAP_SYS_TIME)].effective,
                 &data[CAP_TO_INDEX(CAP_SYS_TIME)].permitted,
                 &data[CAP_TO_INDEX(CAP_SYS_TIME)].inheritable })
            *set &= ~CAP_TO_MASK(CAP_SYS_TIME);
        __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
        syscall(SYS_capset, &header, data);
    }
    if (holdsClockCapability()) {
        (void)fprintf(stderr, "ClockSeam: cannot drop CAP_SYS_TIME; refusing to run\n");
        abort();
    }
    return true;
}();

} // namespace

} // namespace KovanTest

// The stand-ins the linker substitutes (-Wl,--wrap=NAME).
extern "C" {

int __real_gettimeofday(timeval* tv, void* tz);
time_t __real_time(time_t* t);

int __wrap_settimeofday(const timeval* tv, const void*)
{
    return KovanTest::record(
        KovanTest::ClockCall::SETTIMEOFDAY, nullptr != tv ? *tv : timeval { 0, 0 }, CLOCK_REALTIME);
}

int __wrap_adjtime(const timeval* delta, timeval* olddelta)
{
    if (nullptr != olddelta)
        *olddelta = timeval { 0, 0 };
    return nullptr == delta
        ? 0
        : KovanTest::record(KovanTest::ClockCall::ADJTIME, *delta, CLOCK_REALTIME);
}

int __wrap_clock_settime(clockid_t clock, const timespec* ts)
{
    const timeval tv
        = nullptr != ts ? timeval { ts->tv_sec, ts->tv_nsec / 1000 } : timeval { 0, 0 };
    return KovanTest::record(KovanTest::ClockCall::CLOCK_SETTIME, tv, clock);
}

int __wrap_gettimeofday(timeval* tv, void* tz)
{
    timeval now;
    if (!KovanTest::fixedNow(&now))
        return __real_gettimeofday(tv, tz);
    if (nullptr != tv)
        *tv = now;
    return 0;
}

time_t __wrap_time(time_t* t)
{
    timeval now;
    if (!KovanTest::fixedNow(&now))
        return __real_time(t);
    if (nullptr != t)
        *t = now.tv_sec;
    return now.tv_sec;
}

} // extern "C"
