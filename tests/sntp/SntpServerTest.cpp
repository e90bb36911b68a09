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

// A request of `length` bytes with first byte `first`, poll `poll` and a transmit time whose
// low bits are `tag`.
std::string clientRequest(int first, size_t length = 48, int poll = 6, int tag = 1)
{
    std::string bytes(length, '\0');
    if (length > 0)
        bytes[0] = static_cast<char>(first);
    if (length > 2)
        bytes[2] = static_cast<char>(poll);
    const char xmt[8] = { '\xEA', 1, 2, 3, 4, 5, 6, static_cast<char>(tag) };
    if (length >= 48)
        bytes.replace(40, 8, xmt, 8);
    return bytes;
}

Kovan::uint64 stampAt(const std::string& d, size_t at)
{
    return Kovan::NtpStamp::fromWire(SntpTest::timeAt(d, at));
}

int connectedTo(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = SntpTest::loopback(port);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    return fd;
}

std::string receiveWithin(int fd, int timeoutMs)
{
    pollfd p = { fd, POLLIN, 0 };
    char buffer[2048];
    const ssize_t n = poll(&p, 1, timeoutMs) > 0 ? recv(fd, buffer, sizeof(buffer), 0) : -1;
    return n >= 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

class SntpModernServerTest : public SntpTest::NetworkTest {
protected:
    static SntpModernServer::Options options()
    {
        SntpModernServer::Options o;
        o.address = "127.0.0.1";
        o.port = 0;
        o.workers = 2;
        o.localReference = true;
        return o;
    }
};

} // namespace

TEST_F(SntpModernServerTest, AnswersOnlyClientRequestsWith48ByteRepliesStampedToTheNanosecond)
{
    SntpModernServer server(options());
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_TRUE(server.precision() < 0 && server.precision() >= -30) << server.precision();
    const int fd = connectedTo(server.port());
    // Too short, not a client's mode (0, 4-7), a version outside 1-4: silence for each.
    const std::vector<std::string> ignored = { "", clientRequest(0x23, 1), clientRequest(0x23, 47),
        clientRequest(0x20), clientRequest(0x24), clientRequest(0x25), clientRequest(0x26),
        clientRequest(0x27), clientRequest(0x03), clientRequest(0x2B), clientRequest(0x3B) };
    for (const std::string& d : ignored)
        send(fd, d.data(), d.size(), 0);
    // Versions 1 to 4, and longer requests: one 48-byte reply each, in order (one socket, one
    // worker).
    const std::vector<std::pair<int, size_t>> asked
        = { { 1, 48 }, { 2, 48 }, { 3, 200 }, { 4, 1500 } };
    const Kovan::uint64 before = Kovan::NtpStamp::now();
    for (size_t i = 0; i < asked.size(); ++i) {
        const std::string d = clientRequest(
            asked[i].first << 3 | 3, asked[i].second, static_cast<int>(4 + i), static_cast<int>(i));
        send(fd, d.data(), d.size(), 0);
    }
    for (size_t i = 0; i < asked.size(); ++i) {
        const std::string reply = receiveWithin(fd, 3000);
        const Kovan::uint64 after = Kovan::NtpStamp::now();
        ASSERT_EQ(48u, reply.size()) << "reply " << i;
        const std::string request = clientRequest(
            asked[i].first << 3 | 3, 48, static_cast<int>(4 + i), static_cast<int>(i));
        EXPECT_EQ(asked[i].first << 3 | 4, static_cast<unsigned char>(reply[0]));
        EXPECT_EQ(10, reply[1]);
        EXPECT_EQ(static_cast<char>(4 + i), reply[2]) << "the request's poll";
        EXPECT_EQ(server.precision(), static_cast<signed char>(reply[3]));
        EXPECT_EQ(std::string(4, '\0'), reply.substr(4, 4)) << "root delay";
        EXPECT_NE(std::string(4, '\0'), reply.substr(8, 4)) << "root dispersion";
        EXPECT_EQ("LOCL", reply.substr(12, 4));
        EXPECT_EQ(request.substr(40, 8), reply.substr(24, 8)) << "org";
        const Kovan::uint64 ref = stampAt(reply, 16), rec = stampAt(reply, 32),
                            xmt = stampAt(reply, 40);
        EXPECT_TRUE(ref != 0 && ref <= xmt);
        EXPECT_TRUE(before <= rec && rec <= xmt && xmt <= after)
            << before << " " << rec << " " << xmt << " " << after;
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    SntpModernServer::Counters c;
    ASSERT_TRUE(SntpTest::eventually([&] { return (c = server.counters()).received == 15; }));
    EXPECT_EQ("4 3 5 3 0 0 0",
        std::to_string(c.answered) + " " + std::to_string(c.tooShort) + " "
            + std::to_string(c.notRequest) + " " + std::to_string(c.badVersion) + " "
            + std::to_string(c.rateLimited) + " " + std::to_string(c.kisses) + " "
            + std::to_string(c.sendFailed));
    close(fd);

    // Stopping takes effect within the workers' wake-up time, and frees the port.
    const auto start = Clock::now();
    server.stop();
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(0, server.port());
}

TEST_F(SntpModernServerTest, LeapFollowsTheKernelUnlessItIsItsOwnReference)
{
    SntpModernServer::Options o = options();
    o.localReference = false;
    o.stratum = 3;
    o.referenceId = "GPS";
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    timex query = {};
    const int state = ntp_adjtime(&query);
    const int leap = state == TIME_ERROR ? 3 : state == TIME_INS ? 1 : state == TIME_DEL ? 2 : 0;
    const std::string reply = rawQuery(server.port(), clientRequest(0x23), 3000);
    ASSERT_EQ(48u, reply.size());
    EXPECT_EQ(leap << 6 | 0x24, static_cast<unsigned char>(reply[0]));
    EXPECT_EQ(std::string("\x03", 1), reply.substr(1, 1));
    EXPECT_EQ(std::string("GPS\0", 4), reply.substr(12, 4));
}

TEST_F(SntpModernServerTest, RefusesAHeldPortAndLimitsEachClientsRate)
{
    // Held without any sharing option, by the design's server (SO_REUSEADDR), or by another
    // modern server (SO_REUSEPORT): never taken over.
    const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = SntpTest::loopback(0);
    socklen_t length = sizeof(address);
    bind(holder, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
    SntpModernServer::Options o = options();
    o.port = ntohs(address.sin_port);
    SntpModernServer refused(o);
    EXPECT_FALSE(refused.start());
    EXPECT_EQ("127.0.0.1 port " + std::to_string(o.port) + " is held by another process",
        refused.error());
    close(holder);
    {
        KovanTest::StderrCapture capture;
        Kovan::SntpServer classic;
        classic.setEnable(true);
        o.port = 123;
        EXPECT_FALSE(SntpModernServer(o).start());
        classic.setEnable(false);
    }
    o.rateLimit = 1;
    o.rateBurst = 2;
    o.kissOfDeath = true;
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_FALSE(SntpModernServer(o).start());

    // Two at once pass, the third is kissed (stratum 0, RATE, unsynchronised), the fourth dropped.
    const int fd = connectedTo(123);
    for (int i = 0; i < 4; ++i)
        send(fd, clientRequest(0x23, 48, 6, i).data(), 48, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string reply = receiveWithin(fd, 3000);
        ASSERT_EQ(48u, reply.size());
        EXPECT_EQ(i, reply[31]) << "org of request " << i;
        EXPECT_EQ(i < 2 ? "\x24\x0a" : std::string("\xE4\0", 2), reply.substr(0, 2));
        EXPECT_EQ(i < 2 ? "LOCL" : "RATE", reply.substr(12, 4));
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    close(fd);
    SntpModernServer::Counters c;
    ASSERT_TRUE(SntpTest::eventually([&] { return (c = server.counters()).received == 4; }));
    EXPECT_EQ("2 1 1",
        std::to_string(c.answered) + " " + std::to_string(c.kisses) + " "
            + std::to_string(c.rateLimited));
}

#ifdef SNTP_SERVE_PATH
namespace {

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key && key != "VmRSS:")
        status.ignore(256, '\n');
    status >> value;
    return value;
}

int boundSocket(const char* address, int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = SntpTest::loopback(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)));
    return fd;
}

} // namespace

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
    const long residentBefore = residentKb(serve.pid);
    const int junk = boundSocket("127.0.0.3", 0), replies = boundSocket("127.0.0.2", 123);
    const int client = connectedTo(123);
    const sockaddr_in server = SntpTest::loopback(123);
    std::mt19937 random(12345);
    std::string reply = clientRequest(0x24);
    int answered = 0, sent = 0;
    const auto start = Clock::now();
    for (int i = 0; i < 400000 && msSince(start) < 2000; ++i) {
        std::string bytes(random() % 1501, '\0');
        for (char& b : bytes)
            b = static_cast<char>(random());
        if (bytes.size() >= 48 && (bytes[0] & 7) == 3)
            bytes[0] = static_cast<char>(bytes[0] ^ 7);
        sendto(junk, bytes.data(), bytes.size(), MSG_DONTWAIT,
            reinterpret_cast<const sockaddr*>(&server), sizeof(server));
        reply[47] = static_cast<char>(i);
        sendto(replies, reply.data(), reply.size(), MSG_DONTWAIT,
            reinterpret_cast<const sockaddr*>(&server), sizeof(server));
        if (i % 2000 == 0 && send(client, clientRequest(0x23).data(), 48, 0) == 48)
            ++sent;
        answered += receiveWithin(client, 0).size() == 48;
    }
    while (answered < 1 && !receiveWithin(client, 1000).empty())
        ++answered;
    EXPECT_GE(answered, 1) << sent << " asked";
    EXPECT_EQ("", receiveWithin(junk, 100)) << "nothing answers junk";
    EXPECT_EQ("", receiveWithin(replies, 0)) << "nothing answers a reply";
    EXPECT_LT(residentKb(serve.pid) - residentBefore, 4096) << residentBefore;
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
