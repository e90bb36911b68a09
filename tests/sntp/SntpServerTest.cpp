// SntpServer on port 123 of the test's private network: the 68-byte reply to requests of every
// length, the switch on and off with its trace lines and timing, quitting, a port already taken,
// and switching while a client floods it.
#include "sntp/SntpServer.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Kovan::SntpServer;
using Kovan::SntpTime;
using SntpTest::rawQuery;

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string request(size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>(0xA0 + i);
    return bytes;
}

// Counts occurrences of `line` in `text`.
int count(const std::string& text, const std::string& line)
{
    int n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

// A socket on port 123 without SO_REUSEADDR: proves nobody else holds the port, or takes it.
int bindPort123()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(123);
    if (0 != bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address))) {
        close(fd);
        return -1;
    }
    return fd;
}

class SntpServerTest : public ::testing::Test {
protected:
    void SetUp() override { SNTP_REQUIRE_PRIVATE_NETWORK(); }
    void TearDown() override
    {
        _server.quit();
        _server.join();
        _server.setEnable(false);
    }

    SntpServer _server;
};

} // namespace

TEST_F(SntpServerTest, RepliesWith68BytesEchoingTheTransmitTime)
{
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());

    for (size_t length : { 1, 2, 39, 40, 41, 47, 48, 49, 68, 200 }) {
        const SntpTime before = SntpTime::currentTime();
        const std::string reply = rawQuery(123, request(length), 3000);
        const SntpTime after = SntpTime::currentTime();
        ASSERT_EQ(68u, reply.size()) << "request of " << length;

        EXPECT_EQ(0x1C, static_cast<unsigned char>(reply[0]));
        EXPECT_EQ(14, static_cast<unsigned char>(reply[1]));
        EXPECT_EQ(std::string(22, '\0'), reply.substr(2, 22)) << "ppoll..reftime must be zero";
        // org: the request's bytes 40-47 as they stood, zero where the datagram was shorter.
        std::string org = length > 40 ? request(length).substr(40, 8) : "";
        org.resize(8, '\0');
        EXPECT_EQ(org, reply.substr(24, 8)) << "request of " << length;
        EXPECT_EQ(std::string(20, '\0'), reply.substr(48)) << "the authenticator stays zero";

        Kovan::SntpTimePacket rec, xmt;
        memcpy(&rec, reply.data() + 32, 8);
        memcpy(&xmt, reply.data() + 40, 8);
        EXPECT_LE(before.time(), SntpTime(rec).time());
        EXPECT_LE(SntpTime(rec).time(), SntpTime(xmt).time());
        EXPECT_LE(SntpTime(xmt).time(), after.time());
    }
}

TEST_F(SntpServerTest, AnEmptyDatagramGetsNoReply)
{
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());
    EXPECT_EQ("", rawQuery(123, std::string(), 500));
    EXPECT_EQ(68u, rawQuery(123, request(48), 3000).size());
}

TEST_F(SntpServerTest, SwitchingOnTwiceMakesOneSocketAndOffWithoutOneSaysNothing)
{
    KovanTest::StderrCapture capture;
    _server.setEnable(false);
    EXPECT_EQ("", capture.take());

    _server.setEnable(true);
    _server.setEnable(true);
    EXPECT_EQ("SntpServer is ready to respond...\n", capture.take());
    EXPECT_TRUE(_server.isEnable());
    EXPECT_EQ(-1, bindPort123());

    // Not running: nothing is inside a cycle, so the socket closes at once.
    _server.setEnable(false);
    EXPECT_EQ("SntpServer is finished...\n", capture.take());
    const int fd = bindPort123();
    EXPECT_LE(0, fd);
    close(fd);
}

TEST_F(SntpServerTest, ADisabledServerHoldsNoPortAndQuitsWithinASecond)
{
    ASSERT_TRUE(_server.run());
    const int fd = bindPort123();
    EXPECT_LE(0, fd) << "a disabled server must not hold the port";
    close(fd);
    const auto start = Clock::now();
    _server.quit();
    _server.join();
    EXPECT_LT(msSince(start), 1600);
}

TEST_F(SntpServerTest, SwitchingOffWhileWaitingPollsThenCloses)
{
    KovanTest::StderrCapture capture;
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());
    ASSERT_EQ(68u, rawQuery(123, request(48), 3000).size());
    // Switch off only once the thread waits again, so the wait is what gets interrupted.
    std::string lines;
    const auto waitDeadline = Clock::now() + std::chrono::seconds(5);
    while (
        count(lines, "SntpServer is waiting for request...\n") < 2 && Clock::now() < waitDeadline)
        lines += capture.take();
    ASSERT_EQ(2, count(lines, "SntpServer is waiting for request...\n")) << lines;

    const auto start = Clock::now();
    _server.setEnable(false);
    const long long ms = msSince(start);
    const std::string traced = capture.take();

    EXPECT_LT(ms, 1700);
    const std::string finished = "SntpServer is finished...\n";
    ASSERT_GE(traced.size(), finished.size());
    EXPECT_EQ(finished, traced.substr(traced.size() - finished.size())) << traced;
    const int waits = count(traced, "waiting for SntpServer checking...\n");
    EXPECT_GE(waits, 1) << traced;
    EXPECT_LE(waits, 8) << traced;
    EXPECT_EQ("", rawQuery(123, request(48), 300));

    // Back on: the thread finds the new socket at its next pass.
    _server.setEnable(true);
    EXPECT_EQ(68u, rawQuery(123, request(48), 3000).size());
}

TEST_F(SntpServerTest, QuitEndsAServingThreadWithinASecond)
{
    _server.setEnable(true);
    ASSERT_TRUE(_server.run());
    ASSERT_EQ(68u, rawQuery(123, request(48), 3000).size());
    const auto start = Clock::now();
    _server.quit();
    _server.join();
    EXPECT_LT(msSince(start), 1600);
    EXPECT_FALSE(_server.isAlive());
}

TEST_F(SntpServerTest, APortAlreadyTakenSwitchesTheServerOff)
{
    const int fd = bindPort123();
    ASSERT_LE(0, fd);
    KovanTest::StderrCapture capture;
    _server.setEnable(true);
    EXPECT_EQ("SntpServer cannot bind port 123...\n", capture.take());
    EXPECT_FALSE(_server.isEnable());
    close(fd);
    _server.setEnable(true);
    EXPECT_TRUE(_server.isEnable());
}

TEST_F(SntpServerTest, SwitchingWhileAClientFloodsIsSafe)
{
    ASSERT_TRUE(_server.run());
    std::atomic<bool> stop(false);
    std::atomic<int> replies(0);
    std::thread flood([&] {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address;
        memset(&address, 0, sizeof(address));
        address.sin_family = AF_INET;
        address.sin_port = htons(123);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string bytes = request(48);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < 200000 && !stop && Clock::now() < deadline; ++i) {
            sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                reinterpret_cast<sockaddr*>(&address), sizeof(address));
            pollfd p = { fd, POLLIN, 0 };
            if (poll(&p, 1, 1) > 0) {
                char buffer[128];
                if (68 == recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT))
                    ++replies;
            }
        }
        close(fd);
    });

    KovanTest::StderrCapture capture; // the cycles trace a lot
    for (int cycle = 0; cycle < 4; ++cycle) {
        _server.setEnable(true);
        const int before = replies;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (replies == before && Clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_GT(replies, before) << "cycle " << cycle;
        _server.setEnable(false);
    }
    stop = true;
    flood.join();
    const std::string traced = capture.take();
    EXPECT_EQ(4, count(traced, "SntpServer is finished...\n"));
    EXPECT_EQ(0, count(traced, "exception occurred"));
}
