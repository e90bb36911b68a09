// The NTP time value of the SNTP service: seconds since 1900 in the high word and a binary
// fraction of a second in the low word, in host byte order, with its packet and timeval forms,
// its arithmetic in seconds, and the system clock it is read from and written to.
//
// Thread safety: a value, safe to copy and read from any thread; the static clock functions may
// be called from any thread, but setRtc is meant for start-up, before any thread changes the
// clock (the registered Rtc is not locked).
#pragma once

#include "foundation/Types.h"
#include "sntp/NtpStamp.h"

#include <sys/time.h>

namespace Kovan {

class Rtc;

// Fractions are scaled by 2^32 - 1, not 2^32, so 0xFFFFFFFF is exactly one second. Peers that
// scale by 2^32 differ by at most one part in four billion, far below a millisecond.
constexpr double NTP_TO_SECOND = 1.0 / 4294967295.0;
constexpr double NTP_FRACTIONAL_TO_MS = 1000.0 / 4294967295.0;

class SntpTime {
public:
    SntpTime()
        : _time(0)
    {
    }
    SntpTime(const SntpTimePacket& packet) { operator=(packet); }
    // Keeps the sub-second part to the nearest millisecond.
    SntpTime(const timeval& tv);
    SntpTime(const SntpTime& other) = default;

    SntpTime& operator=(const SntpTime& other) = default;
    SntpTime& operator=(const SntpTimePacket& packet);

    uint64 time() const { return _time; }
    void setTime(uint64 time) { _time = time; }
    uint32 seconds() const { return static_cast<uint32>(_time >> 32); }
    uint32 fraction() const { return static_cast<uint32>(_time); }

    operator SntpTimePacket() const;
    // tv_sec is seconds() - 2208988800 modulo 2^32, read as an unsigned 32-bit count (so 1970
    // to 2106); tv_usec moves in whole milliseconds and is 1000000 for a fraction in the last
    // half millisecond of a second, which callers must treat as out of range.
    operator timeval() const;

    bool operator==(const SntpTime& other) const { return _time == other._time; }
    bool operator!=(const SntpTime& other) const { return _time != other._time; }

    // Signed seconds from `other` to this; the difference is exact in 64 bits before it
    // becomes a double.
    double operator-(const SntpTime& other) const;
    // This plus a signed number of seconds, modulo 2^64. Whole seconds beyond 32 bits wrap; a
    // value that is not a number (or infinite) adds nothing.
    SntpTime operator+(const double& seconds) const;

    static uint32 msToNtpFraction(uint32 ms);
    // Rounded half up: fractions in the last half millisecond give 1000.
    static uint32 ntpFractionToMs(uint32 fraction);
    static double ntpFractionToSecond(uint32 fraction);

    // The system clock (gettimeofday), to the nearest millisecond.
    static SntpTime currentTime();
    // Steps the system clock to `t` (its millisecond), after writing its second to the
    // registered Rtc, if any; a failed Rtc write leaves the system clock alone.
    static bool setCurrentTime(const SntpTime& t);
    // Starts a gradual correction (adjtime) toward the whole second of `t`, after writing that
    // second to the registered Rtc, if any.
    static bool adjustCurrentTime(const SntpTime& t);

    // The hardware clock written with every change of the system clock made here. Not owned:
    // it must outlive its registration.
    static Rtc* rtc() { return _rtc; }
    static void setRtc(Rtc* rtc) { _rtc = rtc; }

private:
    uint64 _time;

    static Rtc* _rtc;
};

} // namespace Kovan
