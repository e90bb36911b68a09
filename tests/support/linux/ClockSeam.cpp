#include "support/ClockSeam.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/timex.h>
#include <unistd.h>

namespace KovanTest {

namespace {

struct State {
    std::vector<ClockCall> calls;
    int errors[3] = { 0, 0, 0 };
    std::optional<timeval> now; // fixed by the test, or the real clock's
    std::optional<bool> synchronised; // fixed by the test, or the kernel's
    long maxErrorUs = 0;
    int state = TIME_OK; // adjtimex's answer while synchronised
    std::string log; // the file each call is also written to, or none
};

// A fresh state with the environment's settings (see the header).
State environmentState()
{
    State s;
    const char* synchronised = getenv("KOVAN_CLOCK_SEAM_SYNCHRONISED");
    if (nullptr != synchronised && 1 == strlen(synchronised) && strchr("01", *synchronised))
        s.synchronised = '1' == *synchronised;
    // "SECONDS.MICROSECONDS", exactly six digits after the point.
    const char* now = getenv("KOVAN_CLOCK_SEAM_NOW");
    char* point = nullptr;
    const long long seconds = nullptr != now ? strtoll(now, &point, 10) : 0;
    if (nullptr != point && point != now && '.' == *point && 7 == strspn(point, ".0123456789")
        && '\0' == point[7])
        s.now = timeval { static_cast<time_t>(seconds), strtol(point + 1, nullptr, 10) };
    const char* log = getenv("KOVAN_CLOCK_SEAM_LOG");
    s.log = nullptr != log ? log : "";
    return s;
}

// The state, locked for the life of this object; built on first use and never destroyed (the
// wrappers may run during other objects' static initialisation or exit).
struct Locked {
    struct Recorder {
        std::mutex mutex;
        State state = environmentState();
    };
    Recorder& r = *[] {
        static auto* recorder = new Recorder;
        return recorder;
    }();
    std::lock_guard<std::mutex> guard { r.mutex };
    State& s = r.state;
};

int record(ClockCall::Kind kind, const timeval& tv, clockid_t clock)
{
    Locked l;
    l.s.calls.push_back(ClockCall { kind, tv, clock });
    // One line for the test that ran this program; a lost line shows as a missing call there.
    static const char* const names[] = { "settimeofday", "adjtime", "clock_settime" };
    const std::string line = names[kind]
        + (ClockCall::CLOCK_SETTIME == kind ? " " + std::to_string(clock) : std::string()) + " "
        + std::to_string(tv.tv_sec) + " " + std::to_string(tv.tv_usec) + "\n";
    const int fd = l.s.log.empty()
        ? -1
        : open(l.s.log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        (void)!write(fd, line.data(), line.size());
        close(fd);
    }
    errno = 0 != l.s.errors[kind] ? l.s.errors[kind] : errno;
    return 0 != l.s.errors[kind] ? -1 : 0;
}

// The fixed "now" into `now`; false when the real clock answers.
bool fixedNow(timeval* now)
{
    Locked l;
    *now = l.s.now.value_or(timeval {});
    return l.s.now.has_value();
}

bool readCapabilities(__user_cap_data_struct data[2])
{
    __user_cap_header_struct header = { _LINUX_CAPABILITY_VERSION_3, 0 };
    return 0 == syscall(SYS_capget, &header, data);
}

// Before main: a program linked with the seam can never change the clock. Without CAP_SETPCAP to
// drop it from the bounding set, the check below says whether the clock is out of reach.
[[maybe_unused]] const bool clockCapabilityDropped = [] {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    __user_cap_data_struct data[2];
    if (readCapabilities(data)) {
        __user_cap_data_struct& time = data[CAP_TO_INDEX(CAP_SYS_TIME)];
        for (unsigned* set : { &time.effective, &time.permitted, &time.inheritable })
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

void ClockSeam::reset() { Locked().s = environmentState(); }

std::vector<ClockCall> ClockSeam::calls() { return Locked().s.calls; }

std::size_t ClockSeam::count(ClockCall::Kind kind)
{
    const std::vector<ClockCall> all = calls();
    return std::count_if(
        all.begin(), all.end(), [&](const ClockCall& c) { return c.kind == kind; });
}

void ClockSeam::setError(ClockCall::Kind kind, int errnoValue)
{
    Locked().s.errors[kind] = errnoValue;
}

void ClockSeam::setNow(const timeval& now) { Locked().s.now = now; }

void ClockSeam::setSynchronised(bool synchronised, long maxErrorUs, int state)
{
    Locked l;
    l.s.synchronised = synchronised;
    l.s.maxErrorUs = maxErrorUs;
    l.s.state = state;
}

bool holdsClockCapability()
{
    __user_cap_data_struct data[2];
    return !readCapabilities(data)
        || 0 != (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME))
        || 1 == prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0);
}

} // namespace KovanTest

// The stand-ins the linker substitutes (-Wl,--wrap=NAME).
extern "C" {

using namespace KovanTest;

int __real_gettimeofday(timeval* tv, void* tz);
int __real_adjtimex(timex* tx);
time_t __real_time(time_t* t);

int __wrap_settimeofday(const timeval* tv, const void*)
{
    return record(ClockCall::SETTIMEOFDAY, nullptr != tv ? *tv : timeval { 0, 0 }, CLOCK_REALTIME);
}

int __wrap_adjtime(const timeval* delta, timeval* olddelta)
{
    if (nullptr != olddelta)
        *olddelta = timeval { 0, 0 };
    return nullptr == delta ? 0 : record(ClockCall::ADJTIME, *delta, CLOCK_REALTIME);
}

int __wrap_clock_settime(clockid_t clock, const timespec* ts)
{
    return record(ClockCall::CLOCK_SETTIME,
        nullptr != ts ? timeval { ts->tv_sec, ts->tv_nsec / 1000 } : timeval { 0, 0 }, clock);
}

int __wrap_gettimeofday(timeval* tv, void* tz)
{
    timeval now;
    if (!fixedNow(&now))
        return __real_gettimeofday(tv, tz);
    return nullptr != tv ? (*tv = now, 0) : 0;
}

time_t __wrap_time(time_t* t)
{
    timeval now;
    if (!fixedNow(&now))
        return __real_time(t);
    return nullptr != t ? (*t = now.tv_sec) : now.tv_sec;
}

int __wrap_adjtimex(timex* tx)
{
    if (nullptr == tx || 0 != tx->modes)
        return errno = nullptr == tx ? EFAULT : EPERM, -1;
    State s;
    {
        Locked l;
        s.synchronised = l.s.synchronised;
        s.maxErrorUs = l.s.maxErrorUs;
        s.state = l.s.state;
    }
    if (!s.synchronised.has_value())
        return __real_adjtimex(tx);
    *tx = timex {};
    tx->status = *s.synchronised ? 0 : STA_UNSYNC;
    tx->maxerror = tx->esterror = s.maxErrorUs;
    return *s.synchronised ? s.state : TIME_ERROR;
}

} // extern "C"
