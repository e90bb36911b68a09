// SntpSocket: the checks on a missing socket, closing once, binding and name lookup (the rest is
// seen through the client's queries).
#include "sntp/SntpSocket.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

using Kovan::SntpSocket;

namespace {

sockaddr_in address(int fd, int (*get)(int, sockaddr*, socklen_t*))
{
    sockaddr_in a = {};
    socklen_t length = sizeof(a);
    EXPECT_EQ(0, get(fd, reinterpret_cast<sockaddr*>(&a), &length));
    return a;
}

class SntpSocketTest : public SntpTest::NetworkTest { };

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

TEST_F(SntpSocketTest, ClosesOnceAndOnDestruction)
{
    const int before = SntpTest::openDescriptors();
    {
        SntpSocket socket;
        ASSERT_TRUE(socket.createSocket());
        EXPECT_EQ(before + 1, SntpTest::openDescriptors());
        socket.closeSocket();
        EXPECT_EQ(-1, socket.fd());
        socket.closeSocket(); // nothing left to close: no exception
        EXPECT_EQ(before, SntpTest::openDescriptors());
        bool readable = true;
        EXPECT_FALSE(socket.isReadable(&readable, 0));
        EXPECT_TRUE(readable);
        ASSERT_TRUE(socket.createSocket());
    }
    EXPECT_EQ(before, SntpTest::openDescriptors());
}

TEST_F(SntpSocketTest, BindsAnyAddressAndConnectsByName)
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
}
