// The RTC through the kernel's character device: read-only, so the hardware time is never
// changed from here.
#include "foundation/ClockPolicy.h"
#include "foundation/Rtc.h"

#include <cstring>
#include <fcntl.h>
#include <linux/rtc.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

namespace Kovan {

namespace {

static_assert(RTC_RD_TIME == 0x80247009, "the read-time request of the RTC device");

// Shared by every user of the one instance.
int _rtcFd = -1;

} // namespace

bool Rtc::open()
{
    if (_rtcFd >= 0)
        return true;
    _rtcFd = ::open("/dev/rtc", O_RDONLY | O_CLOEXEC);
    return _rtcFd >= 0;
}

void Rtc::close()
{
    if (_rtcFd >= 0) {
        ::close(_rtcFd);
        _rtcFd = -1;
    }
}

bool Rtc::read(tm* tm)
{
    // struct rtc_time is the first nine fields of tm; the rest of tm is cleared.
    rtc_time rt;
    memset(&rt, 0, sizeof(rt));
    if (_rtcFd < 0 || ioctl(_rtcFd, RTC_RD_TIME, &rt) < 0)
        return false;
    memset(tm, 0, sizeof(*tm));
    tm->tm_sec = rt.tm_sec;
    tm->tm_min = rt.tm_min;
    tm->tm_hour = rt.tm_hour;
    tm->tm_mday = rt.tm_mday;
    tm->tm_mon = rt.tm_mon;
    tm->tm_year = rt.tm_year;
    tm->tm_wday = rt.tm_wday;
    tm->tm_yday = rt.tm_yday;
    tm->tm_isdst = -1;
    return true;
}

bool Rtc::write(const tm&) { return true; }

void Rtc::synchronizeToClockTick() { }

bool Rtc::setSystemClock(time_t t)
{
    timeval tv;
    tv.tv_sec = t;
    tv.tv_usec = 0;
    return ClockPolicy::step(tv);
}

bool Rtc::adjustSystemClock(time_t t)
{
    timeval delta;
    return ClockPolicy::correctionToSecond(t, &delta) && ClockPolicy::slew(delta);
}

} // namespace Kovan
