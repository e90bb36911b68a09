// How the libraries move the system clock, decided in one place: whether a new time is stepped to
// or slewed toward, the whole-second correction a slew asks adjtime for, and how a change of the
// system clock and the write of a registered RTC follow each other. Rtc::sync, Time::setCurrentTime
// and the SNTP service's clock access and background sync all go through it. Programs that set the
// clock from a clock chip step it by a measured offset here too, and ask here whether the kernel
// holds the clock synchronised before they trust it.
#pragma once

#include "foundation/Types.h"

#include <ctime>
#include <sys/time.h>

namespace Kovan {

class Rtc;

class ClockPolicy {
public:
    // A new time less than a minute from the clock is slewed toward; a minute or more is stepped
    // to, since adjtime at its usual rate would take hours to get there.
    static constexpr int64 SLEW_LIMIT = 60;
    static bool slews(int64 target, int64 now)
    {
        return (target > now ? target - now : now - target) < SLEW_LIMIT;
    }

    // The correction that brings a clock showing `now` to the whole second `target`: the
    // microsecond part is never negative, as adjtime wants it ({-3, 750000} is -2.25 s).
    static timeval wholeSecondCorrection(time_t target, const timeval& now);
    // The same from the system clock read now; false when it cannot be read.
    static bool correctionToSecond(time_t target, timeval* correction);
    // A correction of exactly `seconds` (to the microsecond), in the same form, for callers that
    // know their offset better than to the second. Also the form of a new time: now + seconds.
    static timeval correctionOf(double seconds);
    static timeval later(const timeval& now, double seconds);

    // Which clock is written first when an RTC is registered. RTC_FIRST: the RTC may refuse the
    // time, and the system clock then stays as it was, so the two never disagree because of us.
    // CLOCK_FIRST: the system clock, then the RTC, whatever either answers.
    enum RtcOrder { RTC_FIRST, CLOCK_FIRST };

    // Steps the system clock to `tv` (settimeofday) and writes its whole second into `rtc` (null:
    // none) in `order`. True when the clock was stepped (and, RTC_FIRST, the RTC took the time).
    static bool step(const timeval& tv, Rtc* rtc = nullptr, RtcOrder order = RTC_FIRST);
    // Hands `correction` to adjtime, after writing `rtcSecond` into `rtc` (null: none); a refusal
    // of the RTC leaves the clock alone.
    static bool slew(const timeval& correction, Rtc* rtc = nullptr, time_t rtcSecond = 0);

    // Steps the system clock by `seconds` (to the microsecond), read and set back to back, so the
    // time a caller spends between measuring an offset and applying it does not count: the way to
    // set the clock from an instant measured on it, such as a clock chip's second edge, which a
    // setter of whole seconds would miss by up to a second. Writes no RTC: it is meant for setting
    // the clock from one. False when the clock cannot be read or set. An addition for programs
    // that ask for it: Time::setCurrentTime and SntpTime::setCurrentTime step as they always have.
    static bool stepBy(double seconds);

    // What the kernel says of the system clock (adjtimex, reading only): SYNCHRONISED once a time
    // daemon has disciplined it (STA_UNSYNC clear), UNSYNCHRONISED otherwise (after boot, after a
    // step, when the daemon stops), UNKNOWN when the kernel cannot be asked.
    enum KernelSync { SYNCHRONISED, UNSYNCHRONISED, UNKNOWN };
    // `maxErrorUs` (optional) receives the kernel's bound on the clock's error, in microseconds,
    // when the answer is known.
    static KernelSync kernelSync(long* maxErrorUs = nullptr);
};

} // namespace Kovan
