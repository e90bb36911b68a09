// "/dev/rtc", the kernel's view of the board's battery-backed clock, as far as a program that
// reads the time needs it: RTC_RD_TIME answers with a configurable UTC calendar; every other
// request is refused as by a driver without it.
//
// Settings, read at every open and every read so one process can change them as it goes:
//   QUILLO_SIM_RTC       unset: the device is there; "absent": opening fails with ENOENT;
//                        "denied": EACCES; "broken": it opens but every read fails with EIO.
//   QUILLO_SIM_RTC_TIME  what RTC_RD_TIME answers. Unset: the host's clock. "+N" or "-N": the
//                        host's clock plus or minus N seconds (an RTC ahead or behind).
//                        "YYYY-MM-DD hh:mm:ss" (or with a T): that UTC calendar at every read (the
//                        clock stands still, so a test knows the answer); the fields are passed
//                        on as written, so an impossible date such as 2009-02-31 reaches the
//                        program. Anything else is reported and makes the read fail with EIO.
// Each read is logged as "rtc RTC_RD_TIME YYYY-MM-DD hh:mm:ss" (or "rtc RTC_RD_TIME EIO").
#include "sim/BenchSim.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/rtc.h>

namespace BenchSim {

namespace {

const char* const RTC_PATH = "/dev/rtc";

bool isSetting(const char* name, const char* value)
{
    const char* text = setting(name);
    return text && 0 == strcmp(text, value);
}

// "YYYY-MM-DD hh:mm:ss" (or with a T) into the fields, each number as written: read as sscanf's
// %d reads it (strtol), except that a number beyond an int is an error here.
bool parseCalendar(const char* text, tm* t)
{
    int* const fields[]
        = { &t->tm_year, &t->tm_mon, &t->tm_mday, &t->tm_hour, &t->tm_min, &t->tm_sec };
    const char* const separators = "-- ::";
    for (size_t i = 0; i < 6; ++i) {
        char* end = nullptr;
        errno = 0;
        const long value = strtol(text, &end, 10);
        if (end == text || ERANGE == errno || value < INT_MIN || value > INT_MAX)
            return false;
        *fields[i] = static_cast<int>(value);
        text = end;
        if (5 == i)
            break;
        if (separators[i] != *text && !(2 == i && 'T' == *text))
            return false;
        ++text;
    }
    return '\0' == *text;
}

// The configured calendar, or false when the setting makes no sense.
bool configuredTime(rtc_time* out)
{
    const char* text = setting("RTC_TIME");
    tm t = {};
    if (!text || !*text || '+' == text[0] || '-' == text[0]) {
        char* end = nullptr;
        errno = 0;
        const long offset = (text && *text) ? strtol(text, &end, 10) : 0;
        if (end && (*end || ERANGE == errno)) {
            warn("QUILLO_SIM_RTC_TIME=\"%s\" is neither a time nor an offset", text);
            return false;
        }
        const time_t now = static_cast<time_t>(std::floor(hostNow())) + offset;
        if (!gmtime_r(&now, &t))
            return false;
    } else {
        if (!parseCalendar(text, &t)) {
            warn("QUILLO_SIM_RTC_TIME=\"%s\" is neither a time nor an offset", text);
            return false;
        }
        t.tm_year -= 1900;
        t.tm_mon -= 1;
        // Weekday and day of the year only where the date exists, as a driver would fill them.
        tm date = {};
        date.tm_year = t.tm_year;
        date.tm_mon = t.tm_mon;
        date.tm_mday = t.tm_mday;
        if (-1 != timegm(&date) && date.tm_mday == t.tm_mday && date.tm_mon == t.tm_mon) {
            t.tm_wday = date.tm_wday;
            t.tm_yday = date.tm_yday;
        }
    }
    *out = { t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year, t.tm_wday, t.tm_yday,
        0 };
    return true;
}

class RtcFile : public OpenFile {
public:
    ssize_t read(void*, size_t) override
    {
        // Interrupt reports are not simulated: nothing would ever arrive.
        errno = EINVAL;
        return -1;
    }
    ssize_t write(const void*, size_t) override
    {
        errno = EINVAL;
        return -1;
    }
    int ioctl(unsigned long request, void* argument) override
    {
        if (RTC_RD_TIME != request) {
            errno = ENOTTY;
            return -1;
        }
        rtc_time now;
        if (isSetting("RTC", "broken") || !configuredTime(&now)) {
            logLine("rtc RTC_RD_TIME EIO");
            errno = EIO;
            return -1;
        }
        logLine("rtc RTC_RD_TIME %04d-%02d-%02d %02d:%02d:%02d", now.tm_year + 1900, now.tm_mon + 1,
            now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
        memcpy(argument, &now, sizeof(now));
        return 0;
    }
};

class RtcDevice : public Device {
public:
    OpenFile* open(int) override
    {
        if (isSetting("RTC", "absent")) {
            errno = ENOENT;
            return nullptr;
        }
        if (isSetting("RTC", "denied")) {
            errno = EACCES;
            return nullptr;
        }
        return new RtcFile;
    }
};

Device* newRtc() { return new RtcDevice; }
const DeviceRegistration registration(RTC_PATH, newRtc);

} // namespace

} // namespace BenchSim
