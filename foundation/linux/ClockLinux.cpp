// Stepping the system clock from a calendar time.
#include "foundation/Rtc.h"
#include "foundation/Time.h"
#include "foundation/Trace.h"

#include <sys/time.h>

namespace Kovan {

void Time::setCurrentTime(const Time& t)
{
    KOVAN_CHECK(t.isValid());
    timeval tv;
    tv.tv_sec = static_cast<time_t>(t);
    tv.tv_usec = 0;
    // The outcome is not reported: lacking the privilege leaves the clock as it was.
    settimeofday(&tv, nullptr);
    if (nullptr != _rtc)
        _rtc->set(t);
}

} // namespace Kovan
