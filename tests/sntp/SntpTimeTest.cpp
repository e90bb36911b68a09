// SntpTime: exact edge values of the fraction arithmetic, random sums checked against the
// difference, and the clock access through the clock seam (slew, and the Rtc that may veto).
#include "sntp/SntpTime.h"

#include "support/ClockSeam.h"
#include "support/StderrCapture.h"

#include "foundation/Rtc.h"
#include "sntp/NtpStamp.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using Kovan::SntpTime;
using Kovan::uint32;
using Kovan::uint64;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;

namespace {

SntpTime ntp(uint32 seconds, uint32 fraction)
{
    SntpTime t;
    t.setTime((static_cast<uint64>(seconds) << 32) | fraction);
    return t;
}

class ScriptedRtc : public Kovan::Rtc {
public:
    bool accept = true;
    int writes = 0;
    bool readData(Kovan::uint32, void*, Kovan::uint32) override { return false; }
    bool writeData(Kovan::uint32, const void*, Kovan::uint32) override { return false; }
    bool fillData(Kovan::uint32, Kovan::uint8, Kovan::uint32) override { return false; }

protected:
    bool write(const tm&) override
    {
        ++writes;
        return accept;
    }
};

class SntpClockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(KovanTest::holdsClockCapability()); }
    void TearDown() override
    {
        SntpTime::setRtc(nullptr);
        ClockSeam::reset();
    }
};

} // namespace

TEST(SntpTimeTest, FractionConversionsMatchTheIntegerModel)
{
    for (uint32 ms = 0; ms <= 1000; ++ms) {
        const uint32 f = SntpTime::msToNtpFraction(ms);
        EXPECT_EQ(static_cast<uint64>(ms) * 4294967295u / 1000u, f) << "ms " << ms;
        EXPECT_EQ(ms, SntpTime::ntpFractionToMs(f)) << "ms " << ms;
    }
    // Milliseconds beyond a second keep the low 32 bits of the scaled value.
    EXPECT_EQ(
        static_cast<uint32>(1500ull * 4294967295ull / 1000ull), SntpTime::msToNtpFraction(1500));
    EXPECT_EQ(500u, SntpTime::ntpFractionToMs(0x80000000u));
    // The last half millisecond of a second rounds up to 1000.
    EXPECT_EQ(1000u, SntpTime::ntpFractionToMs(0xFFFFFFFFu - 2147483u));
    EXPECT_EQ(1.0, SntpTime::ntpFractionToSecond(0xFFFFFFFFu));
    EXPECT_DOUBLE_EQ(2147483647.0 / 4294967295.0, SntpTime::ntpFractionToSecond(2147483647u));
}

TEST(SntpTimeTest, TimevalConversionsAndTheirRounding)
{
    EXPECT_EQ(ntp(0x83AA7E80u, 0), SntpTime(timeval { 0, 0 }));
    // 999.6 ms rounds to a full fraction without carrying into the second, and converts back
    // to the out-of-range 1000000 that callers reject.
    SntpTime almost(timeval { 1700000000, 999600 });
    EXPECT_EQ(ntp(1700000000u + 2208988800u, 0xFFFFFFFFu), almost);
    timeval back = almost;
    EXPECT_EQ(1700000000, back.tv_sec);
    EXPECT_EQ(1000000, back.tv_usec);
    // Sub-millisecond parts go to the nearest millisecond, half up.
    EXPECT_EQ(SntpTime::msToNtpFraction(123), SntpTime(timeval { 5, 123499 }).fraction());
    EXPECT_EQ(SntpTime::msToNtpFraction(124), SntpTime(timeval { 5, 123500 }).fraction());
    // The 1970 offset wraps modulo 2^32 both ways.
    back = ntp(0, 0);
    EXPECT_EQ(0x7C558180, back.tv_sec);
    EXPECT_EQ(static_cast<uint32>(-1 + 2208988800ll), SntpTime(timeval { -1, 0 }).seconds());
}

TEST(SntpTimeTest, PacketFormIsNetworkOrderBothWays)
{
    const unsigned char wire[8] = { 1, 2, 3, 4, 0x80, 6, 7, 8 };
    Kovan::SntpTimePacket packet;
    memcpy(&packet, wire, sizeof(packet));
    const SntpTime t(packet);
    EXPECT_EQ(ntp(0x01020304u, 0x80060708u), t);
    const Kovan::SntpTimePacket out = t;
    EXPECT_EQ(0, memcmp(wire, &out, sizeof(wire)));
}

TEST(SntpTimeTest, DifferenceIsSignedAndExactBeforeConversion)
{
    // One tick apart at the top of the range: a double of the absolute times could not tell.
    const SntpTime hi = ntp(0xFFFFFFFFu, 0xFFFFFFFFu);
    const SntpTime below = ntp(0xFFFFFFFFu, 0xFFFFFFFEu);
    EXPECT_EQ(Kovan::NTP_TO_SECOND, hi - below);
    EXPECT_EQ(-Kovan::NTP_TO_SECOND, below - hi);
    // The borrow from the seconds, and the full range.
    EXPECT_NEAR(0.75, ntp(10, 0x40000000u) - ntp(9, 0x80000000u), 1e-9);
    EXPECT_EQ(-4294967296.0, ntp(0, 0) - hi);
}

TEST(SntpTimeTest, FullResolutionStampsRoundTripAndSubtractAcrossTheEra)
{
    using Kovan::NtpStamp;
    // 2036-02-07 06:28:16 UTC starts era 1: its stamp's seconds are 0 again.
    const time_t ERA = 2085978496;
    const struct {
        timespec ts;
        uint64 stamp;
    } cases[] = {
        { { 0, 0 }, 2208988800ull << 32 },
        { { 0, 1 }, (2208988800ull << 32) + 4 }, // 4.29 fraction units round to 4
        { { ERA - 1, 999999999 }, 0xFFFFFFFFFFFFFFFCull },
        { { ERA, 0 }, 0 },
        { { ERA, 500000000 }, 0x80000000u },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stamp, NtpStamp::fromTimespec(c.ts)) << c.ts.tv_sec;
        EXPECT_EQ(c.stamp, NtpStamp::fromWire(NtpStamp::toWire(c.stamp)));
        // Placed back from either side of the boundary, nanoseconds intact.
        for (time_t near : { ERA - 86400 * 365, ERA + 86400 * 365, c.ts.tv_sec }) {
            const timespec back = NtpStamp::toTimespec(c.stamp, timespec { near, 0 });
            EXPECT_EQ(c.ts.tv_sec, back.tv_sec) << near;
            EXPECT_EQ(c.ts.tv_nsec, back.tv_nsec) << near;
        }
    }
    // Half a second before and after the boundary: the difference stays small and signed.
    const uint64 before = NtpStamp::fromTimespec({ ERA - 1, 500000000 });
    const uint64 after = NtpStamp::fromTimespec({ ERA, 250000000 });
    EXPECT_DOUBLE_EQ(0.75, NtpStamp::difference(after, before));
    EXPECT_DOUBLE_EQ(-0.75, NtpStamp::difference(before, after));
}

TEST(SntpTimeTest, AddingSecondsMovesTheWordsAndWraps)
{
    const SntpTime t = ntp(1000, 0x20000000u);
    EXPECT_EQ(t, t + -0.0);
    // -1.5 s takes one second and 2147483647 ticks, borrowing from the seconds.
    EXPECT_EQ(ntp(998, 0x20000000u + 0x100000000ull - 2147483647u), t + -1.5);
    EXPECT_EQ(ntp(0, 0x80000000u), ntp(0xFFFFFFFFu, 0x80000000u) + 1.0);
    EXPECT_EQ(ntp(0xFFFFFFFFu, 0x10000000u), ntp(0, 0x10000000u) + -1.0);
    // Whole seconds beyond 32 bits keep their low 32 bits; nonsense adds nothing.
    EXPECT_EQ(ntp(1005, 0x20000000u), t + (4294967296.0 + 5.0));
    for (double nonsense : { std::nan(""), HUGE_VAL, -HUGE_VAL })
        EXPECT_EQ(t, t + nonsense);

    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> offset(-3e8, 3e8);
    for (int i = 0; i < 50000; ++i) {
        SntpTime u;
        u.setTime((rng() % 0xC0000000ull + 0x20000000ull) << 32 | (rng() & 0xFFFFFFFFu));
        const double x = i % 3 ? offset(rng) : offset(rng) * 1e-8;
        const SntpTime moved = u + x;
        // One tick of truncation, plus the double's own resolution at |x|.
        const double tolerance = 1.0 / 4294967295.0 + std::fabs(x) * 2.3e-16;
        ASSERT_NEAR(x, moved - u, tolerance) << std::hex << u.time() << " + " << x;
        ASSERT_NEAR(0.0, (moved + -x) - u, 2 * tolerance);
    }
}

TEST_F(SntpClockTest, SlewAimsAtTheTargetsWholeSecond)
{
    struct Case {
        timeval now, target, expected;
    } cases[] = {
        { { 100, 250000 }, { 160, 900000 }, { 59, 750000 } }, // the target's fraction is ignored
        { { 100, 250000 }, { 98, 0 }, { -3, 750000 } }, // -2.25 s: microseconds stay positive
    };
    for (const Case& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow(c.now);
        KovanTest::StderrCapture capture;
        EXPECT_TRUE(SntpTime::adjustCurrentTime(SntpTime(c.target)));
        const std::string tv
            = std::to_string(c.expected.tv_sec) + ", " + std::to_string(c.expected.tv_usec);
        EXPECT_EQ("Sntp::adjustCurrentTime Called! tv: " + tv
                + "\nadjtime success! syncronizing time to : " + tv + "\n",
            capture.take());
        ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
        EXPECT_EQ(c.expected.tv_sec, ClockSeam::calls()[0].tv.tv_sec);
        EXPECT_EQ(c.expected.tv_usec, ClockSeam::calls()[0].tv.tv_usec);
    }

    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    KovanTest::StderrCapture capture;
    EXPECT_FALSE(SntpTime::adjustCurrentTime(SntpTime(timeval { 200, 0 })));
    EXPECT_EQ("Sntp::adjustCurrentTime Called! tv: 99, 750000\n", capture.take());
}

TEST_F(SntpClockTest, TheRegisteredRtcIsWrittenFirstAndCanRefuse)
{
    ScriptedRtc rtc;
    SntpTime::setRtc(&rtc);
    for (bool accept : { true, false }) {
        rtc.accept = accept;
        ClockSeam::reset();
        ClockSeam::setNow({ 1700000000, 0 });
        KovanTest::StderrCapture capture;
        EXPECT_EQ(accept, SntpTime::setCurrentTime(SntpTime(timeval { 1700000500, 0 })));
        EXPECT_EQ(accept, SntpTime::adjustCurrentTime(SntpTime(timeval { 1700000030, 0 })));
        const std::string traced = capture.take();
        for (const char* line :
            { "Rtc::set(1700000500) Called!!!!!!!!\n", "Rtc::set(1700000030) Called!!!!!!!!\n" })
            EXPECT_NE(std::string::npos, traced.find(line)) << traced;
        // A refusal leaves the system clock alone, both ways.
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::ADJTIME));
    }
    EXPECT_EQ(4, rtc.writes);
}
