// SntpClient::getServerTime against a scripted server on loopback: the request, the offset and
// delay of the four timestamps, and every way a reply can be unusable.
#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

#include <gtest/gtest.h>

using Kovan::SntpTime;
using KovanTest::ClockSeam;
using SntpTest::ScriptedServer;

namespace {

class SntpClientQueryTest : public SntpTest::NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        _descriptors = SntpTest::openDescriptors();
        _client.setServerAddress("127.0.0.1");
    }
    void TearDown() override
    {
        NetworkTest::TearDown();
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

TEST_F(SntpClientQueryTest, RequestAndTheFourTimestampFormulas)
{
    // The client's clock stands still (T4 = T1); the server's runs `shift` ahead (T2 = T1 +
    // shift) and holds the request a quarter of a second (T3 = T2 + 0.25).
    ClockSeam::setNow({ 1700000000, 0 });
    std::string request;
    for (double shift : { 3600.0, -7.75, -86400.5, 1.0e6 + 0.125 }) {
        ScriptedServer server([&request, shift](const std::string& bytes) {
            request = bytes;
            const SntpTime rec = SntpTest::timeAt(bytes, 40) + shift;
            return ScriptedServer::reply(bytes, rec, rec + 0.25, 3, 2);
        });
        ASSERT_TRUE(query(server.port())) << shift;
        const Kovan::SntpServerResponse& r = _response;
        EXPECT_EQ((r.desTime - r.oriTime) - (r.xmtTime - r.recTime), r.delay) << shift;
        EXPECT_EQ(((r.recTime - r.oriTime) + (r.xmtTime - r.desTime)) / 2, r.offset) << shift;
        EXPECT_NEAR(-0.25, r.delay, 1e-9) << shift;
        EXPECT_NEAR(shift + 0.125, r.offset, 1e-9) << shift;
        EXPECT_EQ(3, r.stratum);
        EXPECT_EQ(2, r.leapIndicator);
    }
    // A client request stamped with the client's clock, which came back as T1.
    ASSERT_EQ(48u, request.size());
    EXPECT_EQ("\x1B" + std::string(39, '\0'), request.substr(0, 40));
    EXPECT_EQ(SntpTime::currentTime(), SntpTest::timeAt(request, 40));
    EXPECT_EQ(SntpTime::currentTime(), _response.oriTime);
    EXPECT_EQ(SntpTime::currentTime(), _response.desTime);
}

TEST_F(SntpClientQueryTest, ShortOrGarbageRepliesAreReadAsTheirBytesSay)
{
    // Two bytes: the missing ones read as zero.
    ScriptedServer twoBytes([](const std::string&) { return std::string("\xE4\x05"); });
    ASSERT_TRUE(query(twoBytes.port()));
    EXPECT_EQ(3, _response.leapIndicator);
    EXPECT_EQ(5, _response.stratum);
    EXPECT_EQ(0u, _response.oriTime.time() | _response.recTime.time() | _response.xmtTime.time());

    // Noise longer than a full packet: T1 too is what the reply says.
    std::string reply(82, '\0');
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i * 37 + 11);
    ScriptedServer noise([reply](const std::string&) { return reply; });
    ASSERT_TRUE(query(noise.port()));
    EXPECT_EQ((static_cast<unsigned char>(reply[0]) & 0xC0) >> 6, _response.leapIndicator);
    EXPECT_EQ(static_cast<unsigned char>(reply[1]), _response.stratum);
    EXPECT_EQ(SntpTest::timeAt(reply, 24), _response.oriTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 32), _response.recTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 40), _response.xmtTime);
}

TEST_F(SntpClientQueryTest, SilentEmptyAndRefusedRepliesFail)
{
    // A limit of whole seconds and milliseconds, waited in full.
    _client.setTimeout(1250);
    std::string traced;
    ScriptedServer silent([](const std::string&) { return std::nullopt; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query(silent.port(), &traced));
    EXPECT_EQ("SntpClient : unable to wait for NTP reply from server\n", traced);
    EXPECT_GE(SntpTest::msSince(start), 1240);
    EXPECT_LT(SntpTest::msSince(start), 3000);
    EXPECT_EQ(1, silent.requests());

    // An empty datagram reads as nothing; so does the refusal of a port nobody serves, which
    // comes back at once.
    ScriptedServer empty([](const std::string&) { return std::string(); });
    for (int port : { empty.port(), 9 }) {
        EXPECT_FALSE(query(port, &traced));
        EXPECT_EQ("SntpClient : unable to read reply from the SNTP server\n", traced);
    }
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
