// SntpTime: the edges of its conversions and of its arithmetic.
#include "sntp/SntpTime.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace Kovan;

static SntpTime ntp(uint64 seconds, uint32 fraction)
{
    SntpTime t;
    t.setTime(seconds << 32 | fraction);
    return t;
}

TEST(SntpTimeTest, ConversionsRoundAndDifferencesAndSumsAreExactAtTheEdges)
{
    // Milliseconds against an integer model of the scale by 2^32 - 1, and back.
    for (uint32 ms = 0; ms <= 1000; ++ms) {
        const uint32 f = SntpTime::msToNtpFraction(ms);
        EXPECT_EQ(static_cast<uint64>(ms) * 4294967295u / 1000u, f) << "ms " << ms;
        EXPECT_EQ(ms, SntpTime::ntpFractionToMs(f)) << "ms " << ms;
    }
    EXPECT_EQ(static_cast<uint32>(1500ull * 4294967295u / 1000u), SntpTime::msToNtpFraction(1500));
    EXPECT_EQ(1000u, SntpTime::ntpFractionToMs(0xFFFFFFFFu - 2147483u)) << "the last half ms";
    EXPECT_EQ(1.0, SntpTime::ntpFractionToSecond(0xFFFFFFFFu));

    // To the nearest millisecond, half up; 999.6 ms gives a full fraction without a carry and
    // comes back as the out-of-range 1000000 that callers reject; the 1970 offset wraps.
    const uint64 EPOCH = 2208988800u;
    const struct {
        timeval tv;
        SntpTime ntp;
        timeval back;
    } cases[] = {
        { { 0, 0 }, ntp(0x83AA7E80u, 0), { 0, 0 } },
        { { 1700000000, 999600 }, ntp(1700000000 + EPOCH, 0xFFFFFFFFu), { 1700000000, 1000000 } },
        { { 5, 123499 }, ntp(5 + EPOCH, SntpTime::msToNtpFraction(123)), { 5, 123000 } },
        { { 5, 123500 }, ntp(5 + EPOCH, SntpTime::msToNtpFraction(124)), { 5, 124000 } },
        { { -1, 0 }, ntp(EPOCH - 1, 0), { static_cast<time_t>(0xFFFFFFFFu), 0 } },
        { { 0x7C558180, 0 }, ntp(1ull << 32, 0), { 0x7C558180, 0 } },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.ntp, SntpTime(c.tv)) << c.tv.tv_sec << "." << c.tv.tv_usec;
        const timeval back = c.ntp;
        EXPECT_EQ(c.back.tv_sec, back.tv_sec) << c.tv.tv_sec;
        EXPECT_EQ(c.back.tv_usec, back.tv_usec) << c.tv.tv_sec;
    }

    // One tick apart at the top of the range: a double of the absolute times could not tell.
    const SntpTime hi = ntp(0xFFFFFFFFu, 0xFFFFFFFFu), below = ntp(0xFFFFFFFFu, 0xFFFFFFFEu);
    EXPECT_EQ(Kovan::NTP_TO_SECOND, hi - below);
    EXPECT_EQ(-Kovan::NTP_TO_SECOND, below - hi);
    EXPECT_NEAR(0.75, ntp(10, 0x40000000u) - ntp(9, 0x80000000u), 1e-9) << "the borrow";
    EXPECT_EQ(-4294967296.0, ntp(0, 0) - hi);

    // -1.5 s takes one second and 2147483647 ticks, borrowing from the seconds; the seconds wrap
    // both ways; whole seconds beyond 32 bits keep their low 32 bits; nonsense adds nothing.
    const SntpTime t = ntp(1000, 0x20000000u);
    EXPECT_EQ(t, t + -0.0);
    EXPECT_EQ(ntp(998, 0x20000000u + 0x100000000ull - 2147483647u), t + -1.5);
    EXPECT_EQ(ntp(0, 0x80000000u), ntp(0xFFFFFFFFu, 0x80000000u) + 1.0);
    EXPECT_EQ(ntp(0xFFFFFFFFu, 0x10000000u), ntp(0, 0x10000000u) + -1.0);
    EXPECT_EQ(ntp(1005, 0x20000000u), t + (4294967296.0 + 5.0));
    for (double nonsense : { std::nan(""), HUGE_VAL, -HUGE_VAL })
        EXPECT_EQ(t, t + nonsense);
}
