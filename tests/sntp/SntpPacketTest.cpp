// The wire format's helpers and the reply classifier, as pure functions: the edges that the
// scripted-server tests of the client do not reach (the server's test covers the requests).
#include "sntp/SntpPacket.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;

TEST(SntpPacketTest, FirstByteAndShortFormatRoundTrip)
{
    for (int b = 0; b < 256; ++b) {
        const uint8 byte = static_cast<uint8>(b);
        EXPECT_EQ(byte, sntpFirstByte(sntpLeap(byte), sntpVersion(byte), sntpMode(byte))) << b;
    }
    // Unsigned: all ones is just under 65536 s, not a small negative number.
    const struct {
        uint32 wire; // host order here
        double seconds;
    } shorts[] = { { 0, 0.0 }, { 1, 1.0 / 65536 }, { 0x10000, 1.0 }, { 0x80000000u, 32768.0 },
        { 0xFFFFFFFFu, 65536.0 - 1.0 / 65536 } };
    for (const auto& c : shorts) {
        EXPECT_EQ(c.seconds, sntpShortToSeconds(htonl(c.wire))) << c.wire;
        EXPECT_EQ(htonl(c.wire), sntpSecondsToShort(c.seconds)) << c.seconds;
    }
    // Rounded up, never below 0, never past the largest.
    EXPECT_EQ(htonl(1), sntpSecondsToShort(1e-9));
    EXPECT_EQ(0u, sntpSecondsToShort(-5.0));
    EXPECT_EQ(0xFFFFFFFFu, sntpSecondsToShort(1e12));
    EXPECT_EQ(0xFFFFFFFFu, sntpSecondsToShort(std::nan("")));
}

TEST(SntpPacketTest, RepliesAcrossTheEraAndAtEachLimit)
{
    // Sent just before the era change, answered after it: 10 ms on our clock, 2 ms held.
    const uint64 T1 = 0xFFFFFFFFFF000000ull, TICK_MS = 4294967;
    const uint64 T2 = T1 + 4 * TICK_MS, T3 = T2 + 2 * TICK_MS, T4 = T1 + 10 * TICK_MS;
    ASSERT_LT(T4, T1) << "the stamps must straddle the change";
    const auto reply = [&](uint32 rootDelay, uint32 rootDispersion, uint64 reference,
                           uint64 receive, uint64 transmit) {
        SntpBasicInfo r = {};
        r.li_vn_mode = sntpFirstByte(SNTP_LEAP_NONE, 4, SNTP_MODE_SERVER);
        r.stratum = 2;
        r.rootdelay = static_cast<int32>(htonl(rootDelay));
        r.rootdispersion = static_cast<int32>(htonl(rootDispersion));
        r.reftime = NtpStamp::toWire(reference);
        r.org = NtpStamp::toWire(T1);
        r.rec = NtpStamp::toWire(receive);
        r.xmt = NtpStamp::toWire(transmit);
        return r;
    };
    using V = SntpReplyVerdict;
    const double halfTolerance = SNTP_DELAY_TOLERANCE / 2, tolerance2 = SNTP_DELAY_TOLERANCE * 2;
    const uint64 toleranceTicks = static_cast<uint64>(tolerance2 * 4294967296.0);
    const struct {
        const char* name;
        SntpBasicInfo reply;
        double roundTrip;
        V verdict;
    } cases[] = {
        { "across the era", reply(0, 0, T2, T2, T3), 0.010, V::ACCEPTED },
        { "reference = transmit", reply(0, 0, T3, T2, T3), 0.010, V::ACCEPTED },
        { "reference a tick after", reply(0, 0, T3 + 1, T2, T3), 0.010, V::BAD_REFERENCE },
        { "distance just under 1 s", reply(0x1FFFE, 0, T2, T2, T3), 0.010, V::ACCEPTED },
        { "delay 2 s: distance 1 s", reply(0x20000, 0, T2, T2, T3), 0.010, V::TOO_FAR },
        { "dispersion 0.5 s + delay 1 s", reply(0x10000, 0x8000, T2, T2, T3), 0.010, V::TOO_FAR },
        { "measured round trip shorter", reply(0, 0, T2, T2, T3), 0.005, V::BAD_DELAY },
        { "round trip within the tolerance", reply(0, 0, T2, T2, T3), 0.008 - halfTolerance,
            V::ACCEPTED },
        { "held the whole round trip", reply(0, 0, T2, T1, T4), 0.010, V::ACCEPTED },
        { "held longer by twice the tolerance", reply(0, 0, T2, T1, T4 + toleranceTicks), 0.010,
            V::BAD_DELAY },
    };
    for (const auto& c : cases) {
        const V verdict = classifySntpReply(
            reinterpret_cast<const uint8*>(&c.reply), sizeof(c.reply), T1, T4, c.roundTrip);
        EXPECT_EQ(c.verdict, verdict) << c.name << ": " << sntpVerdictText(verdict);
    }
}
