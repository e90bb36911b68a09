// NtpStamp: exact stamps around the NTP era change (2036-02-07T06:28:16Z) and random round trips
// against a 128-bit integer model.
#include "sntp/NtpStamp.h"

#include "sntp/SntpTime.h"

#include <gtest/gtest.h>
#include <random>

using Kovan::NtpStamp;
using Kovan::uint64;

namespace {

constexpr time_t ERA_1 = 2085978496; // the era change in POSIX seconds

#if defined(__SIZEOF_INT128__)
// The model: the era's seconds and the fraction rounded to the nearest 2^-32 s, in 128 bits.
// (32-bit ARM has no 128-bit integer; there the random test is left out, the exact one runs.)
using Wide = unsigned __int128;
using SignedWide = __int128;

uint64 modelStamp(const timespec& ts)
{
    const Wide seconds
        = static_cast<Wide>(static_cast<SignedWide>(ts.tv_sec) + 2208988800) % (Wide(1) << 32);
    const Wide fraction = ((Wide(ts.tv_nsec) << 32) + 500000000) / 1000000000;
    return static_cast<uint64>((seconds << 32) + fraction);
}
#endif

} // namespace

TEST(NtpStampTest, StampsAroundTheEraChangeAreExact)
{
    const struct {
        timespec ts;
        uint64 stamp;
    } cases[] = { { { 0, 0 }, 0x83AA7E8000000000ull },
        { { ERA_1 - 1, 999999999 }, 0xFFFFFFFFFFFFFFFCull },
        { { ERA_1 - 1, 999999998 }, 0xFFFFFFFFFFFFFFF7ull }, { { ERA_1, 0 }, 0 },
        { { ERA_1, 1 }, 4 }, { { ERA_1, 500000000 }, 0x80000000ull },
        { { ERA_1 + 1, 0 }, 0x100000000ull } };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stamp, NtpStamp::fromTimespec(c.ts)) << c.ts.tv_sec << "." << c.ts.tv_nsec;
        // Near 2036 or near 1970, the stamp names the same instant: both are within 68 years.
        for (const timespec& near : { timespec { ERA_1, 0 }, timespec {} }) {
            const timespec back = NtpStamp::toTimespec(c.stamp, near);
            EXPECT_EQ(c.ts.tv_sec, back.tv_sec) << c.ts.tv_sec << " near " << near.tv_sec;
            EXPECT_EQ(c.ts.tv_nsec, back.tv_nsec) << c.ts.tv_sec << " near " << near.tv_sec;
        }
    }
    // Stamp 0 near 1900 is era 0's first second (where time_t reaches 1900), near 2000 era 1's.
    if (sizeof(time_t) >= 8) {
        EXPECT_EQ(-2208988800LL, NtpStamp::toTimespec(0, { time_t(-2208988795LL), 0 }).tv_sec);
    }
    EXPECT_EQ(ERA_1, NtpStamp::toTimespec(0, { 946684800, 0 }).tv_sec);
    // Differences across the change, both ways, and to the last tick.
    EXPECT_EQ(2.0, NtpStamp::difference(0x100000000ull, 0xFFFFFFFF00000000ull));
    EXPECT_EQ(-2.0, NtpStamp::difference(0xFFFFFFFF00000000ull, 0x100000000ull));
    EXPECT_EQ(1.0 / 4294967296.0, NtpStamp::difference(0, 0xFFFFFFFFFFFFFFFFull));
    // The wire form is big-endian in both words, and SntpTime reads it the same way.
    const Kovan::SntpTimePacket wire = NtpStamp::toWire(0x0102030405060708ull);
    EXPECT_EQ(
        std::string("\1\2\3\4\5\6\7\10"), std::string(reinterpret_cast<const char*>(&wire), 8));
    EXPECT_EQ(0x0102030405060708ull, Kovan::SntpTime(wire).time());
    EXPECT_EQ(0x0102030405060708ull, NtpStamp::fromWire(Kovan::SntpTime(wire)));
}

TEST(NtpStampTest, RandomInstantsRoundTripAndMatchTheWideModel)
{
#if !defined(__SIZEOF_INT128__)
    GTEST_SKIP() << "no 128-bit integer for the model on this target";
#else
    if (sizeof(time_t) < 8)
        GTEST_SKIP() << "a 32-bit time_t reaches neither 1900 nor 2106";
    std::mt19937_64 random(20361);
    // 1900 to 2106 and some years either side: eras 0, 1 and 2.
    std::uniform_int_distribution<long long> seconds(-2300000000LL, 4400000000LL);
    std::uniform_int_distribution<long> nanoseconds(0, 999999999);
    std::uniform_int_distribution<long long> within(-2000000000LL, 2000000000LL);
    for (int i = 0; i < 100000; ++i) {
        const timespec ts = { static_cast<time_t>(seconds(random)), nanoseconds(random) };
        const uint64 stamp = NtpStamp::fromTimespec(ts);
        ASSERT_EQ(modelStamp(ts), stamp) << ts.tv_sec << "." << ts.tv_nsec;
        ASSERT_EQ(stamp, NtpStamp::fromWire(NtpStamp::toWire(stamp)));
        // Back from any instant within 68 years: the nanoseconds survive exactly.
        const timespec near = { ts.tv_sec + static_cast<time_t>(within(random)), 0 };
        const timespec back = NtpStamp::toTimespec(stamp, near);
        ASSERT_EQ(ts.tv_sec, back.tv_sec) << ts.tv_sec << " near " << near.tv_sec;
        ASSERT_EQ(ts.tv_nsec, back.tv_nsec) << ts.tv_sec;
        // A difference is the model's signed count of 2^-32 s, whatever the eras.
        const timespec other = { near.tv_sec, nanoseconds(random) };
        const SignedWide ticks = (static_cast<SignedWide>(ts.tv_sec) - other.tv_sec) * 4294967296
            + static_cast<SignedWide>(stamp & 0xFFFFFFFFu)
            - static_cast<SignedWide>(NtpStamp::fromTimespec(other) & 0xFFFFFFFFu);
        ASSERT_EQ(static_cast<double>(ticks) / 4294967296.0,
            NtpStamp::difference(stamp, NtpStamp::fromTimespec(other)))
            << ts.tv_sec << " - " << other.tv_sec;
    }
#endif
}
