// SntpClient::getServerTime against a scripted server on loopback: the request it sends, the
// offset and delay the four timestamps give, and every way a reply can fail to be usable.
#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>

using Kovan::SntpClient;
using Kovan::SntpServerResponse;
using Kovan::SntpTime;
using SntpTest::ScriptedServer;

namespace {

int openDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (dirent* entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

SntpTime ntp(Kovan::uint32 seconds, Kovan::uint32 fraction)
{
    SntpTime t;
    t.setTime((static_cast<Kovan::uint64>(seconds) << 32) | fraction);
    return t;
}

class SntpClientQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SNTP_REQUIRE_PRIVATE_NETWORK();
        _descriptors = openDescriptors();
        _client.setServerAddress("127.0.0.1");
    }
    void TearDown() override { EXPECT_EQ(_descriptors, openDescriptors()) << "a socket leaked"; }

    bool query(int port, std::string* traced = nullptr)
    {
        _client.setPort(static_cast<Kovan::uint32>(port));
        KovanTest::StderrCapture capture;
        const bool ok = _client.getServerTime(&_response);
        if (traced)
            *traced = capture.take();
        return ok;
    }

    SntpClient _client;
    SntpServerResponse _response;
    int _descriptors = 0;
};

} // namespace

TEST_F(SntpClientQueryTest, SendsAClientRequestStampedWithItsClock)
{
    ScriptedServer server([](const std::string& request, SntpTime arrival) {
        return ScriptedServer::reply(request, arrival, arrival);
    });
    const SntpTime before = SntpTime::currentTime();
    ASSERT_TRUE(query(server.port()));
    const SntpTime after = SntpTime::currentTime();

    const std::vector<std::string> received = server.received();
    ASSERT_EQ(1u, received.size());
    const std::string& request = received[0];
    ASSERT_EQ(48u, request.size());
    EXPECT_EQ(0x1B, static_cast<unsigned char>(request[0]));
    EXPECT_EQ(std::string(39, '\0'), request.substr(1, 39));
    Kovan::SntpTimePacket xmt;
    memcpy(&xmt, request.data() + 40, 8);
    EXPECT_LE(before.time(), SntpTime(xmt).time());
    EXPECT_GE(after.time(), SntpTime(xmt).time());
    // The server echoed it, and T1 is what came back.
    EXPECT_EQ(SntpTime(xmt), _response.oriTime);
}

TEST_F(SntpClientQueryTest, OffsetFollowsServersShiftedByWholeAndFractionalSeconds)
{
    for (double shift : { 3600.0, 0.25, -7.75, -86400.5, 1.0e6 + 0.125 }) {
        ScriptedServer server([shift](const std::string& request, SntpTime arrival) {
            const SntpTime rec = arrival + shift;
            return ScriptedServer::reply(request, rec, rec + 0.0005, 3, 2);
        });
        ASSERT_TRUE(query(server.port())) << shift;
        // Same clock on both sides: the offset is the shift, give or take half the round trip
        // (however the scheduler split it) and the millisecond steps of the timestamps.
        EXPECT_NEAR(shift, _response.offset, _response.delay / 2 + 0.0015) << shift;
        EXPECT_GE(_response.delay, -0.003) << shift;
        EXPECT_LT(_response.delay, 1.0) << shift;
        EXPECT_EQ(3, _response.stratum);
        EXPECT_EQ(2, _response.leapIndicator);
    }
}

TEST_F(SntpClientQueryTest, OffsetAndDelayAreTheFourTimestampFormulas)
{
    // Fixed T1, T2 and T3 (org not echoed): only T4 comes from the client's clock.
    const SntpTime t1 = ntp(3900000000u, 0x40000000u);
    const SntpTime t2 = ntp(3900000010u, 0x80000000u);
    const SntpTime t3 = ntp(3900000010u, 0xC0000000u);
    ScriptedServer server([&](const std::string&, SntpTime) {
        Kovan::SntpFullPacket packet;
        memset(&packet, 0, sizeof(packet));
        packet.basic.li_vn_mode = 0xDC;
        packet.basic.stratum = 1;
        packet.basic.org = t1;
        packet.basic.rec = t2;
        packet.basic.xmt = t3;
        return std::string(reinterpret_cast<const char*>(&packet), sizeof(packet));
    });
    ASSERT_TRUE(query(server.port()));
    const SntpTime t4 = _response.desTime;
    EXPECT_EQ(t1, _response.oriTime);
    EXPECT_EQ(t2, _response.recTime);
    EXPECT_EQ(t3, _response.xmtTime);
    EXPECT_EQ(3, _response.leapIndicator);
    EXPECT_EQ(1, _response.stratum);
    // T2 - T1 = 10.25 s and T3 - T2 = 0.25 s in ticks of 1/(2^32 - 1) s.
    const double t2MinusT1 = 10.0 + 0x40000000u / 4294967295.0;
    const double t3MinusT2 = 0x40000000u / 4294967295.0;
    EXPECT_EQ(t2MinusT1, t2 - t1);
    EXPECT_EQ((t4 - t1) - t3MinusT2, _response.delay);
    EXPECT_EQ((t2MinusT1 + (t3 - t4)) / 2, _response.offset);
    // T4 is now, long after 2023: the reply claims an hour-scale past, so the offset is hugely
    // negative and the delay hugely positive.
    EXPECT_LT(_response.offset, -1.0e6);
    EXPECT_GT(_response.delay, 1.0e6);
}

TEST_F(SntpClientQueryTest, ShortRepliesLeaveTheMissingBytesZero)
{
    ScriptedServer server([](const std::string&, SntpTime) { return std::string("\xE4\x05", 2); });
    ASSERT_TRUE(query(server.port()));
    EXPECT_EQ(3, _response.leapIndicator);
    EXPECT_EQ(5, _response.stratum);
    EXPECT_EQ(0u, _response.oriTime.time());
    EXPECT_EQ(0u, _response.recTime.time());
    EXPECT_EQ(0u, _response.xmtTime.time());
}

TEST_F(SntpClientQueryTest, GarbageIsReadAsItsBytesSay)
{
    std::string garbage(68, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 37 + 11);
    ScriptedServer server([&](const std::string&, SntpTime) { return garbage + "trailing bytes"; });
    ASSERT_TRUE(query(server.port()));
    EXPECT_EQ((static_cast<unsigned char>(garbage[0]) & 0xC0) >> 6, _response.leapIndicator);
    EXPECT_EQ(static_cast<unsigned char>(garbage[1]), _response.stratum);
    Kovan::SntpTimePacket rec;
    memcpy(&rec, garbage.data() + 32, 8);
    EXPECT_EQ(SntpTime(rec), _response.recTime);
}

TEST_F(SntpClientQueryTest, NoReplyWaitsTheTimeoutThenFails)
{
    ScriptedServer server([](const std::string&, SntpTime) { return std::string(); });
    _client.setTimeout(300);
    std::string traced;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query(server.port(), &traced));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ("SntpClient : unable to wait for NTP reply from server\n", traced);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(1, server.requests());
}

TEST_F(SntpClientQueryTest, EmptyOrRefusedRepliesCannotBeRead)
{
    // An empty datagram reads as nothing; so does the refusal of a port nobody serves.
    ScriptedServer server([](const std::string&, SntpTime) { return std::string("", 0); });
    std::string traced;
    _client.setTimeout(300);
    EXPECT_FALSE(query(server.port(), &traced));
    EXPECT_TRUE(traced == "SntpClient : unable to read reply from the SNTP server\n"
        || traced == "SntpClient : unable to wait for NTP reply from server\n")
        << traced;

    _client.setTimeout(5000);
    EXPECT_FALSE(query(9, &traced));
    EXPECT_EQ("SntpClient : unable to read reply from the SNTP server\n", traced);
}

TEST_F(SntpClientQueryTest, HostNamesAreLookedUpAndUnknownOnesFailSilently)
{
    ScriptedServer server([](const std::string& request, SntpTime arrival) {
        return ScriptedServer::reply(request, arrival, arrival);
    });
    _client.setServerAddress("localhost");
    std::string traced;
    EXPECT_TRUE(query(server.port(), &traced));

    _client.setServerAddress("no-such-host.invalid");
    EXPECT_FALSE(query(server.port(), &traced));
    EXPECT_EQ("", traced);
    EXPECT_EQ(1, server.requests());
}

TEST_F(SntpClientQueryTest, LongNumericLiteralsStillReachTheServer)
{
    ScriptedServer server([](const std::string& request, SntpTime arrival) {
        return ScriptedServer::reply(request, arrival, arrival);
    });
    // Seventeen characters that name 127.0.0.1.
    _client.setServerAddress("0x7f.0x0.0x0.0x01");
    EXPECT_TRUE(query(server.port()));
    EXPECT_EQ(1, server.requests());
}
