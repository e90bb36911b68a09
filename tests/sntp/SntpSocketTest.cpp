// SntpSocket: the checks on a missing socket, closing once, the timed wait, and the receive that
// swallows failures.
#include "sntp/SntpSocket.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include <arpa/inet.h>
#include <chrono>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Kovan::SntpSocket;

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

long long elapsedMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

TEST(SntpSocketDeathTest, OperationsOnAMissingSocketFailTheirCheck)
{
    const char* check = "_socketFd != SocketApiWrapper::INVALID_FD";
    char buffer[48] = {};
    EXPECT_CHECK_FAILS(SntpSocket().bindSocket(123), check, "bindSocket");
    EXPECT_CHECK_FAILS(SntpSocket().connectSocket("127.0.0.1", 123), check, "connectSocket");
    EXPECT_CHECK_FAILS(SntpSocket().sendSocket(buffer, 48), check, "sendSocket");
    EXPECT_CHECK_FAILS(SntpSocket().receiveSocket(buffer, 48), check, "receiveSocket");
}

TEST(SntpSocketTest, ClosesOnceAndOnDestruction)
{
    const int before = openDescriptors();
    {
        SntpSocket socket;
        ASSERT_TRUE(socket.createSocket());
        EXPECT_EQ(before + 1, openDescriptors());
        socket.closeSocket();
        EXPECT_EQ(-1, socket.fd());
        socket.closeSocket(); // nothing left to close: no exception
        EXPECT_EQ(before, openDescriptors());
        ASSERT_TRUE(socket.createSocket());
    }
    EXPECT_EQ(before, openDescriptors());
}

TEST(SntpSocketTest, BindTracesAndTakesThePort)
{
    SNTP_REQUIRE_PRIVATE_NETWORK();
    SntpSocket socket;
    ASSERT_TRUE(socket.createSocket());
    KovanTest::StderrCapture capture;
    socket.bindSocket(12345);
    EXPECT_EQ("SntpServer bind..\n", capture.take());
    sockaddr_in address;
    socklen_t length = sizeof(address);
    ASSERT_EQ(0, getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length));
    EXPECT_EQ(12345, ntohs(address.sin_port));
    EXPECT_EQ(INADDR_ANY, ntohl(address.sin_addr.s_addr));
}

TEST(SntpSocketTest, IsReadableWaitsItsLimitAndReportsTheState)
{
    SNTP_REQUIRE_PRIVATE_NETWORK();
    SntpTest::ScriptedServer server(
        [](const std::string& request, Kovan::SntpTime) { return request; });
    SntpSocket socket;
    ASSERT_TRUE(socket.createSocket());
    ASSERT_TRUE(socket.connectSocket("127.0.0.1", server.port()));

    bool readable = true;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(socket.isReadable(&readable, 0));
    EXPECT_FALSE(readable);
    EXPECT_LT(elapsedMs(start), 100);

    readable = true;
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(socket.isReadable(&readable, 1250));
    EXPECT_FALSE(readable);
    EXPECT_GE(elapsedMs(start), 1240);
    EXPECT_LT(elapsedMs(start), 3000);

    char ping[4] = { 'p', 'i', 'n', 'g' };
    ASSERT_TRUE(socket.sendSocket(ping, 4));
    EXPECT_TRUE(socket.isReadable(&readable, 5000));
    EXPECT_TRUE(readable);
    char answer[16] = {};
    EXPECT_EQ(4, socket.receiveSocket(answer, sizeof(answer)));
    EXPECT_EQ(std::string("ping"), std::string(answer, 4));
}

TEST(SntpSocketTest, FailedSelectLeavesTheFlagAlone)
{
    SntpSocket socket;
    bool readable = true;
    EXPECT_FALSE(socket.isReadable(&readable, 0));
    EXPECT_TRUE(readable);
}

TEST(SntpSocketTest, ConnectResolvesNamesAndRefusesUnknownOnes)
{
    SNTP_REQUIRE_PRIVATE_NETWORK();
    SntpSocket socket;
    ASSERT_TRUE(socket.createSocket());
    const int fd = socket.fd();
    EXPECT_FALSE(socket.connectSocket("no-such-host.invalid", 123));
    EXPECT_EQ(fd, socket.fd());
    sockaddr_in peer;
    socklen_t length = sizeof(peer);
    EXPECT_NE(0, getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length));

    EXPECT_TRUE(socket.connectSocket("localhost", 4242));
    ASSERT_EQ(0, getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length));
    EXPECT_EQ(INADDR_LOOPBACK, ntohl(peer.sin_addr.s_addr));
    EXPECT_EQ(4242, ntohs(peer.sin_port));
}

TEST(SntpSocketTest, FailedReceiveCountsAsNothingReceived)
{
    SNTP_REQUIRE_PRIVATE_NETWORK();
    SntpSocket socket;
    ASSERT_TRUE(socket.createSocket());
    // Nobody listens on the port: the refusal comes back as a pending error on the socket.
    ASSERT_TRUE(socket.connectSocket("127.0.0.1", 9));
    char request[48] = {};
    ASSERT_TRUE(socket.sendSocket(request, 48));
    bool readable = false;
    ASSERT_TRUE(socket.isReadable(&readable, 5000));
    EXPECT_TRUE(readable);
    char buffer[68];
    EXPECT_EQ(0, socket.receiveSocket(buffer, sizeof(buffer)));
}
