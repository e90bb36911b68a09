#include "sntp/SntpTime.h"

#include <cmath>

namespace Kovan {

Rtc* SntpTime::_rtc = nullptr;

namespace {

// Truncates toward zero and keeps the value modulo 2^64. Every caller passes a value that is
// not negative; anything else yields 0 instead of the undefined conversion.
uint64 truncToU64(double x)
{
    if (!(x >= 0.0) || std::isinf(x)) // negative, not a number, or infinite: nothing to keep
        return 0;
    const double two32 = 4294967296.0;
    const double t = std::fmod(std::trunc(x), two32 * two32);
    // Split so each half converts exactly.
    const double hi = std::floor(t / two32);
    const double lo = t - hi * two32;
    return (static_cast<uint64>(hi) << 32) + static_cast<uint64>(lo);
}

} // namespace

SntpTime::SntpTime(const timeval& tv)
{
    const uint32 sec = static_cast<uint32>(static_cast<int64>(tv.tv_sec) + NtpStamp::UNIX_TO_NTP);
    // Signed division: a negative microsecond count (no clock gives one, a caller's timeval may)
    // rounds toward zero instead of wrapping to a huge unsigned fraction.
    const int64 ms = (static_cast<int64>(tv.tv_usec) + 500) / 1000;
    _time = (static_cast<uint64>(sec) << 32) + msToNtpFraction(static_cast<uint32>(ms));
}

SntpTime& SntpTime::operator=(const SntpTimePacket& packet)
{
    _time = NtpStamp::fromWire(packet);
    return *this;
}

SntpTime::operator SntpTimePacket() const { return NtpStamp::toWire(_time); }

SntpTime::operator timeval() const
{
    timeval tv;
    // The 2^32 - 1 fraction scale and the millisecond rounding are this class's own; only the
    // seconds follow the shared epoch.
    tv.tv_sec = static_cast<time_t>(
        static_cast<uint32>(seconds() - static_cast<uint32>(NtpStamp::UNIX_TO_NTP)));
    tv.tv_usec = static_cast<suseconds_t>(ntpFractionToMs(fraction())) * 1000;
    return tv;
}

double SntpTime::operator-(const SntpTime& other) const
{
    if (_time >= other._time) {
        const uint64 d = _time - other._time;
        return static_cast<double>(static_cast<uint32>(d >> 32))
            + ntpFractionToSecond(static_cast<uint32>(d));
    }
    const uint64 d = other._time - _time;
    return -(static_cast<double>(static_cast<uint32>(d >> 32))
        + ntpFractionToSecond(static_cast<uint32>(d)));
}

SntpTime SntpTime::operator+(const double& seconds) const
{
    const double magnitude = seconds >= 0.0 ? seconds : -seconds;
    double whole;
    const double frac = std::modf(magnitude, &whole);
    uint64 increment = static_cast<uint64>(static_cast<uint32>(truncToU64(whole))) << 32;
    increment += truncToU64(frac * 4294967295.0);

    SntpTime result;
    result._time = seconds >= 0.0 ? _time + increment : _time - increment;
    return result;
}

uint32 SntpTime::msToNtpFraction(uint32 ms)
{
    return static_cast<uint32>(truncToU64(static_cast<double>(ms) * 4294967.295));
}

uint32 SntpTime::ntpFractionToMs(uint32 fraction)
{
    return static_cast<uint32>(
        truncToU64(static_cast<double>(fraction) * NTP_FRACTIONAL_TO_MS + 0.5));
}

double SntpTime::ntpFractionToSecond(uint32 fraction)
{
    return static_cast<double>(fraction) * NTP_TO_SECOND;
}

} // namespace Kovan
