// SntpServer and its SntpSocket on port 123 of the private network.
#include "sntp/SntpServer.h"

#include "support/StderrCapture.h"

#include "sntp/SntpSocket.h"
#include "sntp/SntpTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Kovan;
using namespace SntpTest;

// Binding port 123 without SO_REUSEADDR fails while anyone holds it.
static bool portIsFree() { return 0 == close(udpSocket("0.0.0.0", 123, false)); }

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
    // Out of descriptors: no socket, and a line to say so.
    withoutDescriptors([&] {
        _server.setEnable(true);
        return true;
    });
    { // destroyed while on, a server gives its port back
        Kovan::SntpServer other;
        other.setEnable(true);
        EXPECT_FALSE(portIsFree());
    }
    EXPECT_TRUE(portIsFree()) << "a destroyed server kept the port";
    EXPECT_NE("", _capture.take());
    ASSERT_TRUE(_server.run());
    // Still on, the thread opens the socket that could not be opened.
    std::string lines;
    ASSERT_TRUE(eventually([&] { return (lines += _capture.take()).find("ready") != lines.npos; }));
    EXPECT_EQ(68u, rawQuery(123, clientRequest(0x23), 3000).size());
    _server.setEnable(false);
    EXPECT_TRUE(portIsFree()) << "running but off, the thread holds no port";
    _capture.take();
    _server.setEnable(true);
    _server.setEnable(true);
    EXPECT_FALSE(portIsFree()) << "switched on, it holds the port";
    ASSERT_EQ(68u, rawQuery(123, clientRequest(0x23), 3000).size());
    // Off once the thread waits again, so the wait is what gets interrupted.
    const std::string waiting = "SntpServer is waiting for request...\n";
    lines.clear();
    ASSERT_TRUE(eventually([&] {
        lines += _capture.take();
        return lines.rfind(waiting) > lines.find(waiting);
    })) << lines;
    // Ready, waiting, taking the request in, answering, waiting: a line each.
    EXPECT_EQ(5, std::count(lines.begin(), lines.end(), '\n')) << lines;
    _server.setEnable(false);
    lines = _capture.take(); // waited for the cycle (its line at least once), then finished
    EXPECT_LE(2, std::count(lines.begin(), lines.end(), '\n')) << lines;
    EXPECT_TRUE(portIsFree()) << "switched off, it still holds the port";

    const int fd = udpSocket("0.0.0.0", 123, false), descriptors = openDescriptors();
    _capture.take();
    _server.setEnable(true);
    EXPECT_FALSE(_server.isEnable()) << "on with the port taken";
    EXPECT_NE("", _capture.take()) << "a taken port is not traced";
    EXPECT_EQ(descriptors, openDescriptors()) << "the unbound socket was kept";
    close(fd);
    _server.setEnable(true);
    EXPECT_EQ(68u, rawQuery(123, clientRequest(0x23), 3000).size()) << "no answer once back on";
    _server.quit();
    _server.join();
}

TEST(SntpSocketTest, NeedsASocketAndAnAddress)
{
    Kovan::SntpSocket socket;
    ASSERT_TRUE(socket.createSocket());
    EXPECT_FALSE(socket.connectSocket("no-such-host.invalid", 123));
    KovanTest::StderrCapture capture;
    socket.bindSocket(123);
    const std::string traced = capture.take();
    EXPECT_EQ(1, std::count(traced.begin(), traced.end(), '\n')) << traced;
    EXPECT_FALSE(portIsFree()) << "bound, it holds the port";
    char buffer[48] = {};
    EXPECT_CHECK_FAILS(Kovan::SntpSocket().sendSocket(buffer, 48),
        "_socketFd != SocketApiWrapper::INVALID_FD", "sendSocket");
}
