// SntpTime: exact edge values of the fraction arithmetic, and random round trips checked against
// a model that works in wide integers instead of doubles.
#include "sntp/SntpTime.h"

#include "sntp/SntpPacket.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using Kovan::SntpFullPacket;
using Kovan::SntpTime;
using Kovan::SntpTimePacket;
using Kovan::uint32;
using Kovan::uint64;

namespace {

SntpTime ntp(uint32 seconds, uint32 fraction)
{
    SntpTime t;
    t.setTime((static_cast<uint64>(seconds) << 32) | fraction);
    return t;
}

timeval tv(time_t sec, suseconds_t usec)
{
    timeval v;
    v.tv_sec = sec;
    v.tv_usec = usec;
    return v;
}

// The exact value of a - b in seconds, a tick being 1/(2^32 - 1) of a second below the whole
// seconds. The magnitude of the difference always fits 64 unsigned bits, so no wider integer
// (which 32-bit targets lack) is needed.
long double modelSeconds(uint64 a, uint64 b)
{
    const bool negative = a < b;
    const uint64 m = negative ? b - a : a - b;
    const long double value = static_cast<long double>(m >> 32)
        + static_cast<long double>(static_cast<uint32>(m)) / 4294967295.0L;
    return negative ? -value : value;
}

} // namespace

TEST(SntpTimeTest, FractionConversionsAtTheirEdges)
{
    EXPECT_EQ(0u, SntpTime::msToNtpFraction(0));
    EXPECT_EQ(4294967u, SntpTime::msToNtpFraction(1));
    EXPECT_EQ(2147483647u, SntpTime::msToNtpFraction(500));
    EXPECT_EQ(4294967295u, SntpTime::msToNtpFraction(1000));

    EXPECT_EQ(0u, SntpTime::ntpFractionToMs(0));
    EXPECT_EQ(500u, SntpTime::ntpFractionToMs(0x80000000u));
    EXPECT_EQ(1000u, SntpTime::ntpFractionToMs(0xFFFFFFFFu));
    // The last half millisecond of a second rounds up to 1000.
    EXPECT_EQ(1000u, SntpTime::ntpFractionToMs(SntpTime::msToNtpFraction(1000) - 2147483u));
    EXPECT_EQ(999u, SntpTime::ntpFractionToMs(SntpTime::msToNtpFraction(999)));

    EXPECT_EQ(1.0, SntpTime::ntpFractionToSecond(0xFFFFFFFFu));
    EXPECT_EQ(0.0, SntpTime::ntpFractionToSecond(0));
    EXPECT_DOUBLE_EQ(2147483647.0 / 4294967295.0, SntpTime::ntpFractionToSecond(2147483647u));
}

TEST(SntpTimeTest, EveryMillisecondMatchesTheIntegerModelAndRoundTrips)
{
    for (uint32 ms = 0; ms <= 1000; ++ms) {
        const uint64 model = static_cast<uint64>(ms) * 4294967295u / 1000u;
        const uint32 f = SntpTime::msToNtpFraction(ms);
        EXPECT_EQ(model, f) << "ms " << ms;
        EXPECT_EQ(ms, SntpTime::ntpFractionToMs(f)) << "ms " << ms;
    }
    // Milliseconds beyond a second keep the low 32 bits of the scaled value.
    EXPECT_EQ(
        static_cast<uint32>(1500ull * 4294967295ull / 1000ull), SntpTime::msToNtpFraction(1500));
}

TEST(SntpTimeTest, TimevalConversionsAndTheirRounding)
{
    SntpTime epoch(tv(0, 0));
    EXPECT_EQ(2208988800u, epoch.seconds());
    EXPECT_EQ(0x83AA7E80u, epoch.seconds());
    EXPECT_EQ(0u, epoch.fraction());
    timeval back = epoch;
    EXPECT_EQ(0, back.tv_sec);
    EXPECT_EQ(0, back.tv_usec);

    // 999.6 ms rounds to a whole 1000 ms: the fraction is full but the second does not carry,
    // and converting back gives the out-of-range 1000000 that callers reject.
    SntpTime almost(tv(1700000000, 999600));
    EXPECT_EQ(1700000000u + 2208988800u, almost.seconds());
    EXPECT_EQ(0xFFFFFFFFu, almost.fraction());
    back = almost;
    EXPECT_EQ(1700000000, back.tv_sec);
    EXPECT_EQ(1000000, back.tv_usec);

    // Sub-millisecond parts go to the nearest millisecond, half up.
    EXPECT_EQ(SntpTime::msToNtpFraction(123), SntpTime(tv(5, 123499)).fraction());
    EXPECT_EQ(SntpTime::msToNtpFraction(124), SntpTime(tv(5, 123500)).fraction());

    // Seconds 0 is 1900: the 32-bit subtraction wraps.
    back = ntp(0, 0);
    EXPECT_EQ(2085978496, back.tv_sec);
    EXPECT_EQ(0x7C558180, back.tv_sec);

    // Seconds and the 1970 offset wrap modulo 2^32 on the way in too.
    EXPECT_EQ(static_cast<uint32>(-1 + 2208988800ll), SntpTime(tv(-1, 0)).seconds());
    // (Only a 64-bit time_t can hold seconds past 2^32.)
    if (sizeof(time_t) > 4) {
        const long long past = 4294967296ll + 5;
        EXPECT_EQ(static_cast<uint32>(past + 2208988800ll),
            SntpTime(tv(static_cast<time_t>(past), 0)).seconds());
    }
}

TEST(SntpTimeTest, TimevalRoundTripsKeepTheMillisecond)
{
    std::mt19937_64 rng(20240601);
    for (int i = 0; i < 20000; ++i) {
        const time_t sec = static_cast<time_t>(rng() % 2085978496u);
        const suseconds_t ms = static_cast<suseconds_t>(rng() % 1000);
        const suseconds_t usec = ms * 1000 + static_cast<suseconds_t>(rng() % 500);
        const timeval back = SntpTime(tv(sec, usec));
        ASSERT_EQ(sec, back.tv_sec);
        ASSERT_EQ(ms * 1000, back.tv_usec);
    }
}

TEST(SntpTimeTest, PacketFormIsNetworkOrderBothWays)
{
    const unsigned char wire[8] = { 0x00, 0x00, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00 };
    SntpTimePacket packet;
    memcpy(&packet, wire, sizeof(packet));
    SntpTime t(packet);
    EXPECT_EQ(1u, t.seconds());
    EXPECT_EQ(0x80000000u, t.fraction());

    const SntpTimePacket out = t;
    EXPECT_EQ(0, memcmp(wire, &out, sizeof(wire)));

    SntpTime assigned;
    assigned = ntp(0x01020304u, 0x05060708u);
    const SntpTimePacket p2 = assigned;
    const unsigned char expected[8] = { 1, 2, 3, 4, 5, 6, 7, 8 };
    EXPECT_EQ(0, memcmp(expected, &p2, sizeof(expected)));
    SntpTime viaAssign;
    viaAssign = p2;
    EXPECT_EQ(assigned, viaAssign);
}

TEST(SntpTimeTest, DifferenceIsSignedAndExactBeforeConversion)
{
    const SntpTime a = ntp(3900000000u, 0x10000000u);
    const SntpTime b = a + 2.5;
    EXPECT_EQ(a.seconds() + 2, b.seconds());
    EXPECT_EQ(0x10000000u + 2147483647u, b.fraction());
    EXPECT_NEAR(2.5, b - a, 1e-9);
    EXPECT_EQ(-(b - a), a - b);
    EXPECT_EQ(0.0, a - a);

    // One tick apart at the top of the range: a double of the absolute times could not tell.
    const SntpTime hi = ntp(0xFFFFFFFFu, 0xFFFFFFFFu);
    const SntpTime below = ntp(0xFFFFFFFFu, 0xFFFFFFFEu);
    EXPECT_EQ(Kovan::NTP_TO_SECOND, hi - below);
    EXPECT_EQ(-Kovan::NTP_TO_SECOND, below - hi);

    // The borrow from the seconds when the fraction is smaller.
    EXPECT_NEAR(0.75, ntp(10, 0x40000000u) - ntp(9, 0x80000000u), 1e-9);
    // The full range, both ways.
    EXPECT_EQ(4294967296.0, hi - ntp(0, 0));
    EXPECT_EQ(-4294967296.0, ntp(0, 0) - hi);
}

TEST(SntpTimeTest, RandomDifferencesAgreeWithTheWideModel)
{
    std::mt19937_64 rng(7);
    for (int i = 0; i < 50000; ++i) {
        SntpTime a, b;
        a.setTime(rng());
        // Half the pairs close together, where cancellation would show.
        b.setTime(i % 2 ? rng() : a.time() + (rng() % 0x1000000000ull) - 0x800000000ull);
        const long double model = modelSeconds(a.time(), b.time());
        const double got = a - b;
        const long double tolerance = std::fabs(model) * 4e-16L + 1e-15L;
        ASSERT_LE(std::fabs(static_cast<long double>(got) - model), tolerance)
            << std::hex << a.time() << " - " << b.time();
    }
}

TEST(SntpTimeTest, AddingSecondsMovesTheWordsAndWraps)
{
    const SntpTime t = ntp(1000, 0x20000000u);
    EXPECT_EQ(t, t + 0.0);
    EXPECT_EQ(t, t + -0.0);

    // -1.5 s takes one second and 2147483647 ticks, borrowing from the seconds.
    const SntpTime down = t + -1.5;
    EXPECT_EQ(t.time() - ((1ull << 32) + 2147483647u), down.time());
    EXPECT_EQ(998u, down.seconds());
    EXPECT_EQ(0x20000000u + 0x100000000ull - 2147483647u, down.fraction());

    const SntpTime up = t + 1.5;
    EXPECT_EQ(1001u, up.seconds());
    EXPECT_EQ(0x20000000u + 2147483647u, up.fraction());

    // Modulo 2^64 at both ends.
    EXPECT_EQ(ntp(0, 0x80000000u), ntp(0xFFFFFFFFu, 0x80000000u) + 1.0);
    EXPECT_EQ(ntp(0xFFFFFFFFu, 0x10000000u), ntp(0, 0x10000000u) + -1.0);
    // Whole seconds beyond 32 bits keep their low 32 bits.
    EXPECT_EQ(ntp(1005, 0x20000000u), t + (4294967296.0 + 5.0));

    // Nonsense offsets add nothing rather than crash.
    EXPECT_EQ(t, t + std::nan(""));
    EXPECT_EQ(t, t + HUGE_VAL);
    EXPECT_EQ(t, t + -HUGE_VAL);
}

TEST(SntpTimeTest, RandomSumsAgreeWithTheDifference)
{
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> offset(-3e8, 3e8);
    for (int i = 0; i < 50000; ++i) {
        SntpTime t;
        t.setTime((rng() % 0xC0000000ull + 0x20000000ull) << 32 | (rng() & 0xFFFFFFFFu));
        const double x = i % 3 ? offset(rng) : offset(rng) * 1e-8;
        const SntpTime moved = t + x;
        // One tick of truncation, plus the double's own resolution at |x|.
        const double tolerance = 1.0 / 4294967295.0 + std::fabs(x) * 2.3e-16;
        ASSERT_NEAR(x, moved - t, tolerance) << std::hex << t.time() << " + " << x;
        ASSERT_NEAR(0.0, (moved + -x) - t, 2 * tolerance);
    }
}

TEST(SntpTimeTest, ResponseStartsWithZeroTimes)
{
    Kovan::SntpServerResponse r;
    EXPECT_EQ(0u, r.oriTime.time());
    EXPECT_EQ(0u, r.recTime.time());
    EXPECT_EQ(0u, r.xmtTime.time());
    EXPECT_EQ(0u, r.desTime.time());
    static_assert(sizeof(SntpFullPacket) == 68, "");
}
