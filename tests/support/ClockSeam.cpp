#include "support/ClockSeam.h"

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
    std::mutex mutex;
    std::vector<ClockCall> calls;
    int errors[3] = { 0, 0, 0 };
    bool fixedNow = false;
    timeval now = { 0, 0 };
};

// Built on first use: the wrappers may be called during other objects' static initialisation.
State& state()
{
    static State* s = new State;
    return *s;
}

int record(ClockCall::Kind kind, const timeval& tv, clockid_t clock)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back(ClockCall { kind, tv, clock });
    if (0 != s.errors[kind]) {
        errno = s.errors[kind];
        return -1;
    }
    return 0;
}

bool readCapabilities(__user_cap_data_struct data[2])
{
    __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
    return 0 == syscall(SYS_capget, &header, data);
}

} // namespace

void ClockSeam::reset()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    for (int& e : s.errors)
        e = 0;
    s.fixedNow = false;
}

std::vector<ClockCall> ClockSeam::calls()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

std::size_t ClockSeam::count(ClockCall::Kind kind)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::size_t n = 0;
    for (const ClockCall& c : s.calls)
        n += c.kind == kind ? 1 : 0;
    return n;
}

void ClockSeam::setError(ClockCall::Kind kind, int errnoValue)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.errors[kind] = errnoValue;
}

void ClockSeam::setNow(const timeval& now)
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.fixedNow = true;
    s.now = now;
}

void ClockSeam::clearNow()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.fixedNow = false;
}

bool holdsClockCapability()
{
    __user_cap_data_struct data[2];
    if (!readCapabilities(data))
        return true;
    const bool effective
        = 0 != (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME));
    const bool bounding = 1 == prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0);
    return effective || bounding;
}

bool dropClockCapability()
{
    // Dropping from the bounding set needs CAP_SETPCAP; without it the process cannot hold
    // CAP_SYS_TIME through exec either, so a failure here is only reported by the check below.
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    __user_cap_data_struct data[2];
    if (readCapabilities(data)) {
        const unsigned index = CAP_TO_INDEX(CAP_SYS_TIME);
        const unsigned mask = CAP_TO_MASK(CAP_SYS_TIME);
        data[index].effective &= ~mask;
        data[index].permitted &= ~mask;
        data[index].inheritable &= ~mask;
        __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
        syscall(SYS_capset, &header, data);
    }
    return !holdsClockCapability();
}

namespace {

// Before main: a test program linked with the seam can never change the clock, seam or not.
[[maybe_unused]] const bool clockCapabilityDropped = [] {
    if (!dropClockCapability()) {
        fprintf(stderr, "ClockSeam: cannot drop CAP_SYS_TIME; refusing to run\n");
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
    if (nullptr == delta)
        return 0;
    return KovanTest::record(KovanTest::ClockCall::ADJTIME, *delta, CLOCK_REALTIME);
}

int __wrap_clock_settime(clockid_t clock, const timespec* ts)
{
    timeval tv = { 0, 0 };
    if (nullptr != ts) {
        tv.tv_sec = ts->tv_sec;
        tv.tv_usec = ts->tv_nsec / 1000;
    }
    return KovanTest::record(KovanTest::ClockCall::CLOCK_SETTIME, tv, clock);
}

int __wrap_gettimeofday(timeval* tv, void* tz)
{
    {
        KovanTest::State& s = KovanTest::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.fixedNow) {
            if (nullptr != tv)
                *tv = s.now;
            return 0;
        }
    }
    return __real_gettimeofday(tv, tz);
}

time_t __wrap_time(time_t* t)
{
    {
        KovanTest::State& s = KovanTest::state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.fixedNow) {
            if (nullptr != t)
                *t = s.now.tv_sec;
            return s.now.tv_sec;
        }
    }
    return __real_time(t);
}

} // extern "C"
