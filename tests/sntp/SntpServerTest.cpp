// SntpServer on port 123 of the private network: the 68-byte reply to requests of every length,
// switching on and off with its trace lines and timing, quitting, and switching under a flood;
// and its SntpSocket's checks, closing and binding. SntpModernServer: what it answers and how,
// refusing a held port, the rate limit, and sntp-serve under abuse.
#include "sntp/SntpServer.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/NtpStamp.h"
#include "sntp/SntpModernServer.h"
#include "sntp/SntpSocket.h"

#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/timex.h>
#include <unistd.h>

using Kovan::SntpSocket;
using Kovan::SntpTime;
using SntpTest::msSince;
using SntpTest::rawQuery;

namespace {

using Clock = std::chrono::steady_clock;

std::string request(size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(0xA0 + i);
    return bytes;
}

int count(const std::string& text, const std::string& line)
{
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

// Binds port 123 without SO_REUSEADDR: -1 when someone else holds it.
int bindPort123()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = SntpTest::loopback(123);
    address.sin_addr.s_addr = INADDR_ANY;
    if (0 == bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)))
        return fd;
    close(fd);
    return -1;
}

bool portIsFree() { return 0 == close(bindPort123()); }

sockaddr_in address(int fd, int (*get)(int, sockaddr*, socklen_t*))
{
    sockaddr_in a = {};
    socklen_t length = sizeof(a);
    EXPECT_EQ(0, get(fd, reinterpret_cast<sockaddr*>(&a), &length));
    return a;
}

class SntpSocketTest : public SntpTest::NetworkTest { };

class SntpServerTest : public SntpTest::NetworkTest {
protected:
    void TearDown() override
    {
        _server.quit();
        _server.join();
        _server.setEnable(false);
    }

    Kovan::SntpServer _server;
};

} // namespace

TEST_F(SntpServerTest, RepliesWith68BytesEchoingTheTransmitTime)
{
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());
    // An empty datagram gets no reply.
    EXPECT_EQ("", rawQuery(123, std::string(), 300));

    for (size_t length : { 1, 39, 40, 41, 47, 48, 49, 200 }) {
        const SntpTime before = SntpTime::currentTime();
        const std::string reply = rawQuery(123, request(length), 3000);
        const SntpTime after = SntpTime::currentTime();
        ASSERT_EQ(68u, reply.size()) << "request of " << length;
        // Mode 4, stratum 14, zero from the poll to the reference time.
        EXPECT_EQ("\x1C\x0E" + std::string(22, '\0'), reply.substr(0, 24));
        // org: the request's bytes 40-47 as they stood, zero where the datagram was shorter.
        const std::string org = (length > 40 ? request(length).substr(40) : "") + std::string(8, 0);
        EXPECT_EQ(org.substr(0, 8), reply.substr(24, 8)) << "request of " << length;
        EXPECT_EQ(std::string(20, '\0'), reply.substr(48)) << "the authenticator stays zero";
        const SntpTime rec = SntpTest::timeAt(reply, 32), xmt = SntpTest::timeAt(reply, 40);
        EXPECT_TRUE(
            before.time() <= rec.time() && rec.time() <= xmt.time() && xmt.time() <= after.time());
    }
}

TEST_F(SntpServerTest, SwitchingMakesOneSocketTracesEachChangeAndFailsOnATakenPort)
{
    KovanTest::StderrCapture capture;
    _server.setEnable(false);
    EXPECT_EQ("", capture.take());
    _server.setEnable(true);
    _server.setEnable(true);
    EXPECT_EQ("SntpServer is ready to respond...\n", capture.take());
    EXPECT_TRUE(_server.isEnable());
    EXPECT_FALSE(portIsFree());
    // Not running: nothing is inside a cycle, so the socket closes at once.
    _server.setEnable(false);
    EXPECT_EQ("SntpServer is finished...\n", capture.take());

    const int fd = bindPort123();
    ASSERT_LE(0, fd);
    _server.setEnable(true);
    EXPECT_EQ("SntpServer cannot bind port 123...\n", capture.take());
    EXPECT_FALSE(_server.isEnable());
    close(fd);
    _server.setEnable(true);
    EXPECT_TRUE(_server.isEnable());
}

TEST_F(SntpServerTest, SwitchingOffWhileWaitingPollsThenClosesAndQuitTakesUnderASecond)
{
    // Running but switched off, the thread holds no port.
    ASSERT_TRUE(_server.run());
    EXPECT_TRUE(portIsFree());
    KovanTest::StderrCapture capture;
    _server.setEnable(true);
    ASSERT_EQ(68u, rawQuery(123, request(48), 3000).size());
    // Switch off only once the thread waits again, so the wait is what gets interrupted.
    const std::string waiting = "SntpServer is waiting for request...\n";
    std::string lines;
    ASSERT_TRUE(SntpTest::eventually([&] { return 2 == count(lines += capture.take(), waiting); }))
        << lines;

    const auto start = Clock::now();
    _server.setEnable(false);
    EXPECT_LT(msSince(start), 1700);
    const std::string traced = capture.take();
    EXPECT_EQ(traced.size() - 26, traced.rfind("SntpServer is finished...\n")) << traced;
    const int polls = count(traced, "waiting for SntpServer checking...\n");
    EXPECT_TRUE(polls >= 1 && polls <= 8) << traced;
    EXPECT_EQ("", rawQuery(123, request(48), 300));

    // Back on: the thread finds the new socket at its next pass.
    _server.setEnable(true);
    EXPECT_EQ(68u, rawQuery(123, request(48), 3000).size());
    const auto quitting = Clock::now();
    _server.quit();
    _server.join();
    EXPECT_LT(msSince(quitting), 1600);
    EXPECT_FALSE(_server.isAlive());
}

TEST_F(SntpServerTest, SwitchingWhileAClientFloodsIsSafe)
{
    ASSERT_TRUE(_server.run());
    std::atomic<bool> stop(false);
    std::atomic<int> replies(0);
    std::thread flood([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = SntpTest::loopback(123);
        const std::string bytes = request(48);
        const auto start = Clock::now();
        for (int i = 0; i < 200000 && !stop && msSince(start) < 20000; ++i) {
            sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                reinterpret_cast<const sockaddr*>(&address), sizeof(address));
            pollfd p = { fd, POLLIN, 0 };
            char buffer[128];
            if (poll(&p, 1, 1) > 0 && 68 == recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT))
                ++replies;
        }
        close(fd);
    });

    KovanTest::StderrCapture capture; // the cycles trace a lot
    for (int cycle = 0; cycle < 3; ++cycle) {
        _server.setEnable(true);
        const int before = replies;
        EXPECT_TRUE(SntpTest::eventually([&] { return replies > before; })) << "cycle " << cycle;
        _server.setEnable(false);
    }
    stop = true;
    flood.join();
    const std::string traced = capture.take();
    EXPECT_EQ(3, count(traced, "SntpServer is finished...\n"));
    EXPECT_EQ(0, count(traced, "exception occurred"));
}

TEST(SntpSocketDeathTest, OperationsOnAMissingSocketFailTheirCheck)
{
    const char* check = "_socketFd != SocketApiWrapper::INVALID_FD";
    char buffer[48] = {};
    EXPECT_CHECK_FAILS(SntpSocket().bindSocket(123), check, "bindSocket");
    EXPECT_CHECK_FAILS(SntpSocket().connectSocket("127.0.0.1", 123), check, "connectSocket");
    EXPECT_CHECK_FAILS(SntpSocket().sendSocket(buffer, 48), check, "sendSocket");
    EXPECT_CHECK_FAILS(SntpSocket().receiveSocket(buffer, 48), check, "receiveSocket");
}

TEST_F(SntpSocketTest, BindsAnyAddressConnectsByNameAndClosesOnce)
{
    const int before = SntpTest::openDescriptors();
    {
        SntpSocket server, client;
        ASSERT_TRUE(server.createSocket() && client.createSocket());
        KovanTest::StderrCapture capture;
        server.bindSocket(12345);
        EXPECT_EQ("SntpServer bind..\n", capture.take());
        const sockaddr_in bound = address(server.fd(), getsockname);
        EXPECT_EQ(12345, ntohs(bound.sin_port));
        EXPECT_EQ(INADDR_ANY, ntohl(bound.sin_addr.s_addr));

        EXPECT_FALSE(client.connectSocket("no-such-host.invalid", 123));
        EXPECT_TRUE(client.connectSocket("localhost", 4242));
        const sockaddr_in peer = address(client.fd(), getpeername);
        EXPECT_EQ(INADDR_LOOPBACK, ntohl(peer.sin_addr.s_addr));
        EXPECT_EQ(4242, ntohs(peer.sin_port));
        server.closeSocket();
        server.closeSocket(); // nothing left to close: no exception
    }
    EXPECT_EQ(before, SntpTest::openDescriptors()); // the client closed on destruction
}

namespace {

using Kovan::SntpModernServer;

// A request of `length` bytes: first byte `first`, poll 6 + `tag`, transmit time ending in `tag`.
std::string clientRequest(int first, size_t length = 48, int tag = 1)
{
    std::string bytes(std::max<size_t>(length, 48), '\0');
    bytes[0] = static_cast<char>(first);
    bytes[2] = static_cast<char>(6 + tag);
    bytes.replace(40, 8, std::string("\xEA\1\2\3\4\5\6", 7) + static_cast<char>(tag));
    return bytes.substr(0, length);
}

Kovan::uint64 stampAt(const std::string& d, size_t at)
{
    return Kovan::NtpStamp::fromWire(SntpTest::timeAt(d, at));
}

int udpSocket(const char* address, int port, bool connected)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = SntpTest::loopback(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    EXPECT_EQ(0, (connected ? connect : bind)(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)));
    return fd;
}

std::string receiveWithin(int fd, int timeoutMs)
{
    pollfd p = { fd, POLLIN, 0 };
    char buffer[2048];
    const ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(fd, buffer, sizeof(buffer), 0) : -1;
    return n >= 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string countersText(const SntpModernServer& server, Kovan::uint64 received)
{
    SntpModernServer::Counters c;
    SntpTest::eventually([&] { return (c = server.counters()).received == received; });
    std::ostringstream text;
    text << c.received << ": " << c.answered << " " << c.tooShort << " " << c.notRequest << " "
         << c.badVersion << " " << c.rateLimited << " " << c.kisses << " " << c.sendFailed;
    return text.str();
}

class SntpModernServerTest : public SntpTest::NetworkTest {
protected:
    static SntpModernServer::Options options()
    {
        SntpModernServer::Options o;
        o.address = "127.0.0.1";
        o.port = 0;
        o.workers = 2;
        return o;
    }
};

} // namespace

TEST_F(SntpModernServerTest, AnswersOnlyClientRequestsWith48ByteRepliesStampedToTheNanosecond)
{
    SntpModernServer::Options o = options();
    o.stratum = 3;
    o.referenceId = "GPS";
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_TRUE(server.precision() < 0 && server.precision() >= -30) << server.precision();
    timex query = {};
    const int state = ntp_adjtime(&query); // LI 3 while the kernel says unsynchronised
    const int leap = state == TIME_ERROR ? 3 : state == TIME_INS ? 1 : state == TIME_DEL ? 2 : 0;

    // Too short, not a client's mode (0, 4-7), a version outside 1-4: silence for each. Then
    // versions 1 to 4, some longer: one 48-byte reply each, in order (one socket, one worker).
    const int fd = udpSocket("127.0.0.1", server.port(), true);
    for (const std::string& d : { std::string(), clientRequest(0x23, 1), clientRequest(0x23, 47),
             clientRequest(0x20), clientRequest(0x24), clientRequest(0x25), clientRequest(0x26),
             clientRequest(0x27), clientRequest(0x03), clientRequest(0x2B), clientRequest(0x3B) })
        send(fd, d.data(), d.size(), 0);
    const size_t lengths[] = { 48, 48, 200, 1500 };
    const Kovan::uint64 before = Kovan::NtpStamp::now();
    for (int v = 1; v <= 4; ++v)
        send(fd, clientRequest(v << 3 | 3, lengths[v - 1], v).data(), lengths[v - 1], 0);
    for (int v = 1; v <= 4; ++v) {
        const std::string reply = receiveWithin(fd, 3000);
        const Kovan::uint64 after = Kovan::NtpStamp::now();
        ASSERT_EQ(48u, reply.size()) << "version " << v;
        // LI, version and mode; stratum; the request's poll; precision; root delay 0.
        const std::string head = { char(leap << 6 | v << 3 | 4), 3, char(6 + v),
            char(server.precision()), 0, 0, 0, 0 };
        EXPECT_EQ(head, reply.substr(0, 8));
        EXPECT_NE(std::string(4, '\0'), reply.substr(8, 4)) << "root dispersion";
        EXPECT_EQ(std::string("GPS\0", 4), reply.substr(12, 4));
        EXPECT_EQ(clientRequest(0x23, 48, v).substr(40), reply.substr(24, 8)) << "org";
        const Kovan::uint64 ref = stampAt(reply, 16), rec = stampAt(reply, 32),
                            xmt = stampAt(reply, 40);
        EXPECT_TRUE(ref != 0 && ref <= xmt);
        EXPECT_TRUE(before <= rec && rec <= xmt && xmt <= after) << rec << " " << xmt;
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    close(fd);
    EXPECT_EQ("15: 4 3 5 3 0 0 0", countersText(server, 15));

    // Stopping takes effect within the workers' wake-up time.
    const auto start = Clock::now();
    server.stop();
    EXPECT_LT(msSince(start), 1000);
}

TEST_F(SntpModernServerTest, RefusesAHeldPortAndLimitsEachClientsRate)
{
    // Held by the design's server (SO_REUSEADDR) or by another modern server (SO_REUSEPORT):
    // never taken over.
    SntpModernServer::Options o = options();
    o.port = 123;
    {
        KovanTest::StderrCapture capture;
        Kovan::SntpServer classic;
        classic.setEnable(true);
        SntpModernServer refused(o);
        EXPECT_FALSE(refused.start());
        EXPECT_EQ("127.0.0.1 port 123 is held by another process", refused.error());
        classic.setEnable(false);
    }
    o.localReference = true;
    o.rateLimit = 1;
    o.rateBurst = 2;
    o.kissOfDeath = true;
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_FALSE(SntpModernServer(o).start());

    // Two at once pass, the third is kissed (stratum 0, RATE, unsynchronised), the fourth dropped.
    const int fd = udpSocket("127.0.0.1", 123, true);
    for (int i = 0; i < 4; ++i)
        send(fd, clientRequest(0x23, 48, i).data(), 48, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string reply = receiveWithin(fd, 3000);
        ASSERT_EQ(48u, reply.size());
        EXPECT_EQ(i, reply[31]) << "org of request " << i;
        EXPECT_EQ(i < 2 ? "\x24\x0aLOCL" : std::string("\xE4\0RATE", 6),
            reply.substr(0, 2) + reply.substr(12, 4));
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    close(fd);
    EXPECT_EQ("4: 2 0 0 0 1 1 0", countersText(server, 4));
}

#ifdef SNTP_SERVE_PATH
TEST_F(SntpModernServerTest, SntpServeRefusesAHeldPortSurvivesAbuseAndReportsItsCounters)
{
    // On 127.0.0.1 only, so that port 123 of another address can play a server.
    SntpTest::Child serve({ SNTP_SERVE_PATH, "-L", "-a", "127.0.0.1" });
    ASSERT_TRUE(serve.waitForOutput(
        [](const std::string& out) { return out.find("serving SNTP") != std::string::npos; },
        10000))
        << serve.err;
    SntpTest::Child second({ SNTP_SERVE_PATH, "--port", "123" }); // the wildcard overlaps
    int status = -1;
    ASSERT_TRUE(second.wait(10000, &status));
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, second.err.find("held by another process")) << second.err;

    // Two seconds at most of junk (0 to 1500 random bytes, never a valid request) from one
    // address and of server replies from port 123 of another, while a client asks now and then.
    const auto resident = [&] {
        std::ifstream in("/proc/" + std::to_string(serve.pid) + "/status");
        std::string key;
        while (in >> key && key != "VmRSS:")
            in.ignore(256, '\n');
        long kb = -1;
        in >> kb;
        return kb;
    };
    const long residentBefore = resident();
    const int junk = udpSocket("127.0.0.3", 0, false), replies = udpSocket("127.0.0.2", 123, false);
    const int client = udpSocket("127.0.0.1", 123, true);
    const sockaddr_in server = SntpTest::loopback(123);
    const auto sendToServer = [&](int fd, const std::string& bytes) {
        sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
            reinterpret_cast<const sockaddr*>(&server), sizeof(server));
    };
    std::mt19937 random(12345);
    int answered = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 400000 && msSince(start) < 2000; ++i) {
        std::string bytes(random() % 1501, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random());
        if (bytes.size() >= 48 && (bytes[0] & 7) == 3)
            bytes[0] = static_cast<char>(bytes[0] ^ 7);
        sendToServer(junk, bytes);
        sendToServer(replies, clientRequest(0x24, 48, i));
        if (i % 2000 == 0)
            send(client, clientRequest(0x23).data(), 48, 0);
        answered += receiveWithin(client, 0).size() == 48;
    }
    EXPECT_GE(answered + (receiveWithin(client, 1000).size() == 48), 1);
    EXPECT_EQ("", receiveWithin(junk, 100)) << "nothing answers junk";
    EXPECT_EQ("", receiveWithin(replies, 0)) << "nothing answers a reply";
    EXPECT_LT(resident() - residentBefore, 4096) << residentBefore;
    close(junk);
    close(replies);
    close(client);

    serve.out.clear();
    kill(serve.pid, SIGUSR1);
    ASSERT_TRUE(serve.waitForOutput(
        [](const std::string& out) { return out.find('\n') != std::string::npos; }, 5000));
    EXPECT_EQ(0u, serve.out.find("received ")) << serve.out;
    kill(serve.pid, SIGTERM);
    ASSERT_TRUE(serve.wait(5000, &status));
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, serve.out.find("send-failed 0\n", 20)) << serve.out;
}
#endif
