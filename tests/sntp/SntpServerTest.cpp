// SntpServer on port 123 of the private network: the 68-byte reply to requests of every length,
// switching on and off with its trace lines and timing, quitting, and switching under a flood;
// and its SntpSocket's checks, closing and binding.
#include "sntp/SntpServer.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/SntpSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
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
