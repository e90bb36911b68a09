// The wire format's helpers and the request and reply classifiers, as pure functions.
#include "sntp/SntpPacket.h"

#include <arpa/inet.h>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

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

TEST(SntpPacketTest, RepliesAreJudgedByTheirFirstFaultAcrossTheEraAndAtEachLimit)
{
    // Sent just before the era change, answered after it: 10 ms on our clock, 2 ms held. Faults
    // away from the stamps' limits are the client's strict tests' to show.
    const uint64 T1 = 0xFFFFFFFFFF000000ull, TICK_MS = 4294967;
    const uint64 T2 = T1 + 4 * TICK_MS, T3 = T2 + 2 * TICK_MS, T4 = T1 + 10 * TICK_MS;
    ASSERT_LT(T4, T1) << "the stamps must straddle the change";
    using Edit = std::function<void(SntpBasicInfo&)>;
    const auto stamps = [&](uint64 reference, uint64 receive, uint64 transmit) {
        return [=](SntpBasicInfo& r) {
            std::tie(r.reftime, r.rec, r.xmt) = std::make_tuple(
                NtpStamp::toWire(reference), NtpStamp::toWire(receive), NtpStamp::toWire(transmit));
        };
    };
    const auto roots = [](uint32 delay, uint32 dispersion) {
        return [=](SntpBasicInfo& r) {
            r.rootdelay = static_cast<int32>(htonl(delay));
            r.rootdispersion = static_cast<int32>(htonl(dispersion));
        };
    };
    const auto first = [](uint8 byte, uint8 stratum) {
        return
            [=](SntpBasicInfo& r) { std::tie(r.li_vn_mode, r.stratum) = std::tie(byte, stratum); };
    };
    const Edit nothing = [](SntpBasicInfo&) {},
               org = [&](SntpBasicInfo&r) { r.org = NtpStamp::toWire(T1 ^ 1); };
    using V = SntpReplyVerdict;
    const double halfTolerance = SNTP_DELAY_TOLERANCE / 2;
    const uint64 toleranceTicks = static_cast<uint64>(SNTP_DELAY_TOLERANCE * 2 * 4294967296.0);
    const struct {
        const char* name;
        Edit edit;
        double roundTrip;
        V verdict;
    } cases[] = {
        { "across the era", nothing, 0.010, V::ACCEPTED },
        { "version 1", first(0x0C, 2), 0.010, V::ACCEPTED },
        { "org off by a tick", org, 0.010, V::NOT_OURS },
        { "kiss", first(0x24, 0), 0.010, V::KISS },
        { "stratum 15", first(0x24, 15), 0.010, V::ACCEPTED },
        { "stratum 16", first(0x24, 16), 0.010, V::BAD_STRATUM },
        { "leap 2", first(0xA4, 2), 0.010, V::ACCEPTED },
        { "transmit a tick before receive", stamps(T2, T2, T2 - 1), 0.010,
            V::TRANSMIT_BEFORE_RECEIVE },
        { "transmit = receive", stamps(T2, T2, T2), 0.010, V::ACCEPTED },
        { "reference = transmit", stamps(T3, T2, T3), 0.010, V::ACCEPTED },
        { "reference a tick after", stamps(T3 + 1, T2, T3), 0.010, V::BAD_REFERENCE },
        { "distance just under 1 s", roots(0x1FFFE, 0), 0.010, V::ACCEPTED },
        { "delay 2 s: distance 1 s", roots(0x20000, 0), 0.010, V::TOO_FAR },
        { "dispersion 0.5 s + delay 1 s", roots(0x10000, 0x8000), 0.010, V::TOO_FAR },
        { "measured round trip shorter", nothing, 0.005, V::BAD_DELAY },
        { "round trip within the tolerance", nothing, 0.008 - halfTolerance, V::ACCEPTED },
        { "held the whole round trip", stamps(T2, T1, T4), 0.010, V::ACCEPTED },
        { "held longer by twice the tolerance", stamps(T2, T1, T4 + toleranceTicks), 0.010,
            V::BAD_DELAY },
    };
    for (const auto& c : cases) {
        SntpBasicInfo r = {};
        first(sntpFirstByte(SNTP_LEAP_NONE, 4, SNTP_MODE_SERVER), 2)(r);
        stamps(T2, T2, T3)(r);
        r.org = NtpStamp::toWire(T1);
        c.edit(r);
        const auto* bytes = reinterpret_cast<const uint8*>(&r);
        const V verdict = classifySntpReply(bytes, sizeof(r), T1, T4, c.roundTrip);
        EXPECT_EQ(c.verdict, verdict) << c.name << ": " << sntpVerdictText(verdict);
        EXPECT_EQ(V::TOO_SHORT, classifySntpReply(bytes, sizeof(r) - 1, T1, T4, 1.0)) << c.name;
    }
    // Requests: 48 bytes or more, a client's mode, a version from 1 to 4.
    using R = SntpRequestVerdict;
    const struct {
        uint8 first;
        size_t length;
        R verdict;
    } requests[] = { { 0x23, 47, R::TOO_SHORT }, { 0x23, 48, R::ANSWER }, { 0x0B, 49, R::ANSWER },
        { 0x24, 48, R::NOT_REQUEST }, { 0x03, 48, R::BAD_VERSION }, { 0x2B, 48, R::BAD_VERSION } };
    for (const auto& c : requests) {
        const std::vector<uint8> bytes(c.length, c.first);
        EXPECT_EQ(c.verdict, classifySntpRequest(bytes.data(), c.length)) << int(c.first);
    }
}
