// Changing the system clock: the clock policy's system calls and the calendar time's step.
#include "foundation/ClockPolicy.h"
#include "foundation/Rtc.h"
#include "foundation/Time.h"
#include "foundation/Trace.h"

#include <cmath>
#include <sys/time.h>
#include <sys/timex.h>

namespace Kovan {

namespace {

// A registered RTC takes the new whole second; no RTC is nobody to refuse.
bool writeRtc(Rtc* rtc, time_t second) { return nullptr == rtc || rtc->set(Time(second)); }

} // namespace

timeval ClockPolicy::wholeSecondCorrection(time_t target, const timeval& now)
{
    timeval delta;
    if (0 != now.tv_usec) {
        delta.tv_sec = target - now.tv_sec - 1;
        delta.tv_usec = 1000000 - now.tv_usec;
    } else {
        delta.tv_sec = target - now.tv_sec;
        delta.tv_usec = 0;
    }
    return delta;
}

bool ClockPolicy::correctionToSecond(time_t target, timeval* correction)
{
    timeval now;
    if (0 != gettimeofday(&now, nullptr))
        return false;
    *correction = wholeSecondCorrection(target, now);
    return true;
}

timeval ClockPolicy::later(const timeval& now, double seconds)
{
    const double whole = std::floor(seconds);
    int64 sec = static_cast<int64>(now.tv_sec) + static_cast<int64>(whole);
    int64 usec = static_cast<int64>(now.tv_usec) + std::llround((seconds - whole) * 1e6);
    while (usec >= 1000000) {
        usec -= 1000000;
        ++sec;
    }
    timeval tv;
    tv.tv_sec = static_cast<time_t>(sec);
    tv.tv_usec = static_cast<suseconds_t>(usec);
    return tv;
}

timeval ClockPolicy::correctionOf(double seconds)
{
    timeval zero;
    zero.tv_sec = 0;
    zero.tv_usec = 0;
    return later(zero, seconds);
}

bool ClockPolicy::step(const timeval& tv, Rtc* rtc, RtcOrder order)
{
    if (RTC_FIRST == order && !writeRtc(rtc, tv.tv_sec))
        return false;
    const bool stepped = 0 == settimeofday(&tv, nullptr);
    if (CLOCK_FIRST == order)
        writeRtc(rtc, tv.tv_sec);
    return stepped;
}

bool ClockPolicy::slew(const timeval& correction, Rtc* rtc, time_t rtcSecond)
{
    if (!writeRtc(rtc, rtcSecond))
        return false;
    // The correction still outstanding from an earlier call is of no interest.
    return 0 == adjtime(&correction, nullptr);
}

bool ClockPolicy::stepBy(double seconds)
{
    if (!std::isfinite(seconds))
        return false;
    timeval now;
    if (0 != gettimeofday(&now, nullptr))
        return false;
    const timeval tv = later(now, seconds);
    return 0 == settimeofday(&tv, nullptr);
}

ClockPolicy::KernelSync ClockPolicy::kernelSync(long* maxErrorUs)
{
    // Modes 0: a question only, which needs no privilege and changes nothing.
    timex tx = {};
    if (-1 == adjtimex(&tx))
        return UNKNOWN;
    if (nullptr != maxErrorUs)
        *maxErrorUs = tx.maxerror;
    return 0 != (tx.status & STA_UNSYNC) ? UNSYNCHRONISED : SYNCHRONISED;
}

void Time::setCurrentTime(const Time& t)
{
    KOVAN_CHECK(t.isValid());
    timeval tv;
    tv.tv_sec = static_cast<time_t>(t);
    tv.tv_usec = 0;
    // The outcome is not reported: lacking the privilege leaves the clock as it was, and the RTC
    // is written all the same.
    ClockPolicy::step(tv, _rtc, ClockPolicy::CLOCK_FIRST);
}

} // namespace Kovan
