// SntpClient::getServerTime against a scripted server on loopback: the request it sends, the
// offset and delay the four timestamps give, and every way a reply can fail to be usable.
#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

#include <cstring>
#include <gtest/gtest.h>

using Kovan::SntpTime;
using SntpTest::ntp;
using SntpTest::ScriptedServer;

namespace {

class SntpClientQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SNTP_REQUIRE_PRIVATE_NETWORK();
        _descriptors = SntpTest::openDescriptors();
        _client.setServerAddress("127.0.0.1");
    }
    void TearDown() override
    {
        EXPECT_EQ(_descriptors, SntpTest::openDescriptors()) << "a socket leaked";
    }

    bool query(int port, std::string* traced = nullptr)
    {
        _client.setPort(static_cast<Kovan::uint32>(port));
        KovanTest::StderrCapture capture;
        const bool ok = _client.getServerTime(&_response);
        if (traced)
            *traced = capture.take();
        return ok;
    }

    Kovan::SntpClient _client;
    Kovan::SntpServerResponse _response;
    int _descriptors = 0;
};

} // namespace

TEST_F(SntpClientQueryTest, SendsAClientRequestStampedWithItsClock)
{
    std::string request;
    ScriptedServer server([&](const std::string& bytes, SntpTime arrival) {
        request = bytes;
        return ScriptedServer::prompt(bytes, arrival);
    });
    const SntpTime before = SntpTime::currentTime();
    ASSERT_TRUE(query(server.port()));
    const SntpTime after = SntpTime::currentTime();

    ASSERT_EQ(48u, request.size());
    EXPECT_EQ(0x1B, static_cast<unsigned char>(request[0]));
    EXPECT_EQ(std::string(39, '\0'), request.substr(1, 39));
    const SntpTime xmt = SntpTest::timeAt(request, 40);
    EXPECT_LE(before.time(), xmt.time());
    EXPECT_GE(after.time(), xmt.time());
    // The server echoed it, and T1 is what came back.
    EXPECT_EQ(xmt, _response.oriTime);
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
        std::string reply = ScriptedServer::reply("", t2, t3, 1, 3);
        const Kovan::SntpTimePacket org = t1;
        memcpy(&reply[24], &org, sizeof(org));
        return reply;
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
    // T4 is now, long after 2023: the reply claims the past, so the offset is hugely negative
    // and the delay hugely positive.
    EXPECT_LT(_response.offset, -1.0e6);
    EXPECT_GT(_response.delay, 1.0e6);
}

TEST_F(SntpClientQueryTest, ShortOrGarbageRepliesAreReadAsTheirBytesSay)
{
    // Two bytes: the missing ones read as zero.
    std::string reply("\xE4\x05", 2);
    ScriptedServer server([&](const std::string&, SntpTime) { return reply; });
    ASSERT_TRUE(query(server.port()));
    EXPECT_EQ(3, _response.leapIndicator);
    EXPECT_EQ(5, _response.stratum);
    EXPECT_EQ(0u, _response.oriTime.time());
    EXPECT_EQ(0u, _response.recTime.time());
    EXPECT_EQ(0u, _response.xmtTime.time());

    // Noise, longer than a full packet.
    reply.assign(82, '\0');
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i * 37 + 11);
    ASSERT_TRUE(query(server.port()));
    EXPECT_EQ((static_cast<unsigned char>(reply[0]) & 0xC0) >> 6, _response.leapIndicator);
    EXPECT_EQ(static_cast<unsigned char>(reply[1]), _response.stratum);
    EXPECT_EQ(SntpTest::timeAt(reply, 24), _response.oriTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 32), _response.recTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 40), _response.xmtTime);
}

TEST_F(SntpClientQueryTest, SilentEmptyAndRefusedRepliesFail)
{
    _client.setTimeout(300);
    const char* const wait = "SntpClient : unable to wait for NTP reply from server\n";
    const char* const read = "SntpClient : unable to read reply from the SNTP server\n";
    std::string traced;

    ScriptedServer silent([](const std::string&, SntpTime) { return std::nullopt; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query(silent.port(), &traced));
    EXPECT_EQ(wait, traced);
    EXPECT_GE(SntpTest::msSince(start), 290);
    EXPECT_LT(SntpTest::msSince(start), 2000);
    EXPECT_EQ(1, silent.requests());

    // An empty datagram reads as nothing; so does the refusal of a port nobody serves, which
    // comes back at once.
    ScriptedServer empty([](const std::string&, SntpTime) { return std::string(); });
    EXPECT_FALSE(query(empty.port(), &traced));
    EXPECT_EQ(read, traced);
    _client.setTimeout(5000);
    EXPECT_FALSE(query(9, &traced));
    EXPECT_EQ(read, traced);
}

TEST_F(SntpClientQueryTest, NamesAndNumericLiteralsAreResolvedAndUnknownNamesFailSilently)
{
    ScriptedServer server(ScriptedServer::prompt);
    // Seventeen characters that name 127.0.0.1.
    for (const char* address : { "localhost", "0x7f.0x0.0x0.0x01" }) {
        _client.setServerAddress(address);
        EXPECT_TRUE(query(server.port())) << address;
    }
    _client.setServerAddress("no-such-host.invalid");
    std::string traced;
    EXPECT_FALSE(query(server.port(), &traced));
    EXPECT_EQ("", traced);
    EXPECT_EQ(2, server.requests());
}
