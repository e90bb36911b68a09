// The system clock as the SNTP service reads and changes it on Linux.
#include "foundation/ClockPolicy.h"
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
    // The hardware clock first: a board whose RTC refuses the time keeps both clocks as they
    // were rather than letting them disagree.
    const timeval tv = t;
    return ClockPolicy::step(tv, _rtc, ClockPolicy::RTC_FIRST);
}

bool SntpTime::adjustCurrentTime(const SntpTime& t)
{
    // Only the target's whole second counts.
    const timeval target = t;
    timeval delta;
    if (!ClockPolicy::correctionToSecond(target.tv_sec, &delta))
        return false;
    trace("Sntp::adjustCurrentTime Called! tv: %d, %u\n", static_cast<int>(delta.tv_sec),
        static_cast<unsigned>(delta.tv_usec));
    if (!ClockPolicy::slew(delta, _rtc, target.tv_sec))
        return false;
    trace("adjtime success! syncronizing time to : %d, %d\n", static_cast<int>(delta.tv_sec),
        static_cast<int>(delta.tv_usec));
    return true;
}

} // namespace Kovan
