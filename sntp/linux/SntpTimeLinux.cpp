// The system clock as the SNTP service reads and changes it on Linux.
#include "foundation/Rtc.h"
#include "foundation/Time.h"
#include "foundation/Trace.h"
#include "sntp/SntpTime.h"

#include <sys/time.h>

namespace Kovan {

SntpTime SntpTime::currentTime()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return SntpTime(tv);
}

bool SntpTime::setCurrentTime(const SntpTime& t)
{
    const timeval tv = t;
    // The hardware clock first: a board whose RTC refuses the time keeps both clocks as they
    // were rather than letting them disagree.
    if (_rtc && !_rtc->set(Time(tv.tv_sec)))
        return false;
    return 0 == settimeofday(&tv, nullptr);
}

bool SntpTime::adjustCurrentTime(const SntpTime& t)
{
    const timeval target = t;
    timeval now;
    if (0 != gettimeofday(&now, nullptr))
        return false;

    // Aim at the target's whole second; the microsecond part of the correction is kept
    // non-negative, as adjtime wants it.
    timeval delta;
    if (0 != now.tv_usec) {
        delta.tv_sec = target.tv_sec - now.tv_sec - 1;
        delta.tv_usec = 1000000 - now.tv_usec;
    } else {
        delta.tv_sec = target.tv_sec - now.tv_sec;
        delta.tv_usec = 0;
    }
    trace("Sntp::adjustCurrentTime Called! tv: %d, %u\n", static_cast<int>(delta.tv_sec),
        static_cast<unsigned>(delta.tv_usec));

    if (_rtc && !_rtc->set(Time(target.tv_sec)))
        return false;

    timeval old;
    if (0 != adjtime(&delta, &old))
        return false;
    trace("adjtime success! syncronizing time to : %d, %d\n", static_cast<int>(delta.tv_sec),
        static_cast<int>(delta.tv_usec));
    return true;
}

} // namespace Kovan
