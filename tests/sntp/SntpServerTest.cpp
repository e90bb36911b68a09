// SntpServer and its SntpSocket on port 123 of the private network; SntpModernServer.
#include "sntp/SntpServer.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/NtpStamp.h"
#include "sntp/SntpModernServer.h"
#include "sntp/SntpSocket.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/timex.h>
#include <unistd.h>

using namespace Kovan;
using namespace SntpTest;

using Clock = std::chrono::steady_clock;

// `length` bytes, first byte `first`, poll 6 + `tag`, the transmit time ending in `tag`.
static std::string clientRequest(int first, size_t length = 48, int tag = 1)
{
    std::string bytes(std::max<size_t>(length, 48), '\0');
    bytes[0] = static_cast<char>(first);
    bytes[2] = static_cast<char>(6 + tag);
    bytes.replace(40, 8, std::string("\xEA\1\2\3\4\5\6", 7) + static_cast<char>(tag));
    return bytes.substr(0, length);
}

// Binding port 123 without SO_REUSEADDR fails while anyone holds it.
static bool portIsFree() { return 0 == close(udpSocket("0.0.0.0", 123, false)); }

// Every counter, in declaration order, once all `received` are counted.
static std::vector<Kovan::uint64> counters(const SntpModernServer& server, Kovan::uint64 received)
{
    SntpModernServer::Counters c;
    eventually([&] { return (c = server.counters()).received == received; });
    return { c.received, c.answered, c.tooShort, c.notRequest, c.badVersion, c.rateLimited,
        c.kisses, c.sendFailed };
}

using SntpModernServerTest = NetworkTest;

class SntpServerTest : public NetworkTest {
protected:
    void TearDown() override
    {
        _server.quit();
        _server.join();
        _server.setEnable(false);
        NetworkTest::TearDown();
    }

    KovanTest::StderrCapture _capture; // the cycles trace a lot
    Kovan::SntpServer _server;
};

TEST_F(SntpServerTest, RepliesWith68BytesEchoingOnlyTheRequestsOwnTransmitBytes)
{
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());
    EXPECT_EQ("", rawQuery(123, std::string(), 300)) << "an empty datagram gets no reply";
    // Longest first: a shorter request must not echo what a longer one left behind.
    for (size_t length : { 200, 49, 48, 47, 41, 40, 39, 1 }) {
        const SntpTime before = SntpTime::currentTime();
        const std::string bytes = clientRequest(0x23, length);
        const std::string reply = rawQuery(123, bytes, 3000);
        const SntpTime after = SntpTime::currentTime();
        ASSERT_EQ(68u, reply.size()) << "request of " << length;
        EXPECT_EQ("\x1C\x0E" + std::string(22, '\0'), reply.substr(0, 24)) << "head, " << length;
        EXPECT_EQ((bytes + std::string(48, 0)).substr(40, 8), reply.substr(24, 8)) << length;
        EXPECT_EQ(std::string(20, '\0'), reply.substr(48)) << "authenticator, " << length;
        const std::vector<Kovan::uint64> times
            = { before.time(), timeAt(reply, 32).time(), timeAt(reply, 40).time(), after.time() };
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << "rec and xmt, " << length;
    }
}

TEST_F(SntpServerTest, SwitchingHoldsOneSocketInterruptsTheWaitAndGivesUpATakenPort)
{
    ASSERT_TRUE(_server.run());
    EXPECT_TRUE(portIsFree()) << "running but off, the thread holds no port";
    _server.setEnable(true);
    _server.setEnable(true);
    EXPECT_FALSE(portIsFree()) << "switched on, it holds the port";
    ASSERT_EQ(68u, rawQuery(123, clientRequest(0x23), 3000).size());
    // Off once the thread waits again, so the wait is what gets interrupted.
    const std::string waiting = "SntpServer is waiting for request...\n";
    std::string lines;
    ASSERT_TRUE(eventually([&] {
        lines += _capture.take();
        return lines.rfind(waiting) > lines.find(waiting);
    })) << lines;
    // Started, ready, waiting, taking the request in, answering, waiting: a line each.
    EXPECT_EQ(6, std::count(lines.begin(), lines.end(), '\n')) << lines;
    const auto start = Clock::now();
    _server.setEnable(false);
    EXPECT_LT(msSince(start), 1700);
    EXPECT_TRUE(portIsFree()) << "switched off, it still holds the port";

    const int fd = udpSocket("0.0.0.0", 123, false);
    _server.setEnable(true);
    EXPECT_FALSE(_server.isEnable()) << "on with the port taken";
    close(fd);
    _server.setEnable(true);
    EXPECT_EQ(68u, rawQuery(123, clientRequest(0x23), 3000).size()) << "no answer once back on";
    const auto quitting = Clock::now();
    _server.quit();
    _server.join();
    EXPECT_LT(msSince(quitting), 1600);
}

TEST(SntpSocketTest, NeedsASocketAndItsPlatformHooksSucceed)
{
    char buffer[48] = {};
    EXPECT_CHECK_FAILS(Kovan::SntpSocket().sendSocket(buffer, 48),
        "_socketFd != SocketApiWrapper::INVALID_FD", "sendSocket");
    EXPECT_TRUE(Kovan::SntpSocket::init());
    Kovan::SntpSocket::cleanup();
}

TEST_F(SntpModernServerTest, AnswersOnlyClientRequestsWith48ByteRepliesStampedToTheNanosecond)
{
    SntpModernServer::Options o;
    o.port = 0;
    o.stratum = 3;
    o.referenceId = "GPS";
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    timex query = {};
    const int state = ntp_adjtime(&query); // LI 3 while the kernel says unsynchronised
    const int leap = state == TIME_ERROR ? 3 : state == TIME_INS ? 1 : state == TIME_DEL ? 2 : 0;

    // Silence for each: too short (3), not a client's mode (5), a version outside 1-4 (3).
    const int fd = udpSocket("127.0.0.1", server.port(), true);
    for (const std::string& d : { std::string(), clientRequest(0x23, 1), clientRequest(0x23, 47),
             clientRequest(0x20), clientRequest(0x24), clientRequest(0x25), clientRequest(0x26),
             clientRequest(0x27), clientRequest(0x03), clientRequest(0x2B), clientRequest(0x3B) })
        send(fd, d.data(), d.size(), 0);
    // Versions 1 to 4, some longer: one 48-byte reply each, in order (one socket, one worker).
    const size_t lengths[] = { 48, 48, 200, 1500 };
    const Kovan::uint64 before = NtpStamp::now();
    for (int v = 1; v <= 4; ++v)
        send(fd, clientRequest(v << 3 | 3, lengths[v - 1], v).data(), lengths[v - 1], 0);
    for (int v = 1; v <= 4; ++v) {
        const std::string reply = receiveWithin(fd, 3000);
        const Kovan::uint64 after = NtpStamp::now();
        ASSERT_EQ(48u, reply.size()) << "version " << v;
        // LI, version and mode; stratum; the request's poll; precision; root delay 0.
        const std::string head = { char(leap << 6 | v << 3 | 4), 3, char(6 + v),
            char(server.precision()), 0, 0, 0, 0 };
        EXPECT_EQ(head, reply.substr(0, 8)) << "version " << v;
        EXPECT_NE(std::string(4, '\0'), reply.substr(8, 4)) << "root dispersion, version " << v;
        EXPECT_EQ(std::string("GPS\0", 4), reply.substr(12, 4)) << "version " << v;
        EXPECT_EQ(clientRequest(0x23, 48, v).substr(40), reply.substr(24, 8)) << "org, " << v;
        const auto stamp = [&](size_t at) { return NtpStamp::fromWire(timeAt(reply, at)); };
        const std::vector<Kovan::uint64> times = { before, stamp(32), stamp(40), after };
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << "rec and xmt, version " << v;
        EXPECT_TRUE(0 < stamp(16) && stamp(16) <= stamp(40)) << "reference time, version " << v;
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    close(fd);
    EXPECT_EQ(std::vector<Kovan::uint64>({ 15, 4, 3, 5, 3, 0, 0, 0 }), counters(server, 15));
    const auto start = Clock::now();
    server.stop();
    EXPECT_LT(msSince(start), 1000) << "the workers did not see stop()";
    EXPECT_EQ(0, server.port());
}

TEST_F(SntpModernServerTest, RefusesBadOptionsAndAHeldPortAndLimitsEachClientsRate)
{
    SntpModernServer::Options o;
    const struct {
        int stratum;
        const char *id, *address, *error;
    } bad[] = { { 0, "LOCL", "127.0.0.1", "stratum" }, { 16, "LOCL", "127.0.0.1", "stratum" },
        { 1, "LOCAL", "127.0.0.1", "reference" }, { 15, "LOCL", "no-such-host.invalid", "IPv4" } };
    for (const auto& c : bad) {
        SntpModernServer::Options wrong = o;
        wrong.stratum = static_cast<Kovan::uint8>(c.stratum);
        wrong.referenceId = c.id;
        wrong.address = c.address;
        SntpModernServer refused(wrong);
        EXPECT_FALSE(refused.start()) << c.error;
        EXPECT_NE(std::string::npos, refused.error().find(c.error)) << refused.error();
    }
    {
        // Held by the classic server (SO_REUSEADDR): never taken over, but taken once free.
        KovanTest::StderrCapture capture;
        Kovan::SntpServer classic;
        classic.setEnable(true);
        SntpModernServer modern(o);
        EXPECT_FALSE(modern.start());
        EXPECT_NE(std::string::npos, modern.error().find("held by another")) << modern.error();
        classic.setEnable(false);
        EXPECT_TRUE(modern.start());
        EXPECT_EQ("", modern.error());
    }
    o.localReference = true;
    o.rateLimit = 1;
    o.rateBurst = 2;
    o.rateClients = 4; // one set of the table, shared by the two clients below
    o.kissOfDeath = true;
    o.workers = 1; // the datagrams in the order sent
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_FALSE(SntpModernServer(o).start()) << "took over from another modern server";

    // Of one client's five, two at once pass, the third is kissed (stratum 0, RATE,
    // unsynchronised), the rest are dropped; another client's one in between passes.
    const int fd = udpSocket("127.0.0.1", 123, true), other = udpSocket("127.0.0.2", 0, false);
    const sockaddr_in to = loopback(123);
    ASSERT_EQ(0, connect(other, reinterpret_cast<const sockaddr*>(&to), sizeof(to)));
    for (int i = 0; i < 6; ++i)
        send(4 == i ? other : fd, clientRequest(0x23, 48, i).data(), 48, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string reply = receiveWithin(fd, 3000);
        ASSERT_EQ(48u, reply.size()) << "request " << i;
        EXPECT_EQ(i, reply[31]) << "org of request " << i;
        EXPECT_EQ(i < 2 ? "\x24\x0aLOCL" : std::string("\xE4\0RATE", 6),
            reply.substr(0, 2) + reply.substr(12, 4))
            << "request " << i;
    }
    EXPECT_EQ(48u, receiveWithin(other, 3000).size()) << "the other client was limited";
    EXPECT_EQ("", receiveWithin(fd, 200)) << "a fourth was answered";
    close(fd);
    close(other);
    EXPECT_EQ(std::vector<Kovan::uint64>({ 6, 3, 0, 0, 0, 2, 1, 0 }), counters(server, 6));
}
