#include "net/SocketApiWrapper.h"

#include "NetTestSupport.h"

#include "net/SocketAddress.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace Kovan;
using namespace KovanTest;
typedef SocketApiWrapper W;

namespace {

class SocketApiWrapperTest : public NetTest { };

TEST_F(SocketApiWrapperTest, CreationDescriptorsAndTheInitialisedFlag)
{
    W::cleanup();
    EXPECT_FALSE(W::isInitialized());
    ScopedFd datagram { W::createDatagramSocket() };
    EXPECT_TRUE(W::isInitialized());
    W::cleanup();
    ScopedFd stream { W::createStreamSocket() };
    EXPECT_TRUE(W::isInitialized());
    int type = 0;
    socklen_t length = sizeof(type);
    ASSERT_EQ(0, getsockopt(stream, SOL_SOCKET, SO_TYPE, &type, &length));
    EXPECT_EQ(SOCK_STREAM, type);
}

TEST_F(SocketApiWrapperTest, ExceptionTextsComeFromTheSystemAndAreCutAt255)
{
    EXPECT_STREQ("Bad file descriptor", SocketException(EBADF).message());
    EXPECT_STREQ("Unknown error 99999", SocketException(99999).message());
    std::string longText = "a" + std::string(299, 'x');
    SocketException cut(5, longText.c_str());
    SocketException copy = cut;
    EXPECT_EQ(5, copy.errorCode());
    EXPECT_EQ(longText.substr(0, 255), copy.message());
}

TEST_F(SocketApiWrapperTest, FailedCallsOnAClosedDescriptorThrowBadDescriptor)
{
    int fd = W::createDatagramSocket();
    W::closeSocket(fd);
    expectSocketError(EBADF, [&] { W::closeSocket(fd); });
    expectSocketError(EBADF, [&] { W::configureBlocking(fd, false); });
    expectSocketError(EBADF, [&] { W::waitReadable(-1, 0); });
}

TEST_F(SocketApiWrapperTest, ConfigureBlockingTouchesOnlyTheNonBlockingFlag)
{
    ScopedFd fd { W::createStreamSocket() };
    ASSERT_EQ(0, fcntl(fd, F_SETFL, O_APPEND));
    int before = fcntl(fd, F_GETFL);
    W::configureBlocking(fd, false);
    W::configureBlocking(fd, false);
    EXPECT_EQ(before | O_NONBLOCK, fcntl(fd, F_GETFL));
    W::configureBlocking(fd, true);
    EXPECT_EQ(before, fcntl(fd, F_GETFL));
}

TEST_F(SocketApiWrapperTest, DatagramsTravelThroughSendToAndRecvFrom)
{
    ScopedFd receiver { W::createDatagramSocket() };
    ScopedFd sender { W::createDatagramSocket() };
    W::bind(receiver, 0);
    W::bind(sender, 0);
    // Ephemeral ports lie above 32767: they travel as negative shorts and must arrive intact.
    int port = boundPort(receiver);
    ASSERT_GT(port, 32767);
    EXPECT_EQ(5, W::sendTo(sender, "hello", 5, SocketAddress("127.0.0.1", short(port))));

    ASSERT_TRUE(W::waitReadable(receiver, 5000));
    char buffer[16] = {};
    SocketAddress from;
    EXPECT_EQ(5, W::recvFrom(receiver, buffer, sizeof(buffer), from));
    EXPECT_STREQ("hello", buffer);
    EXPECT_STREQ("127.0.0.1", from.hostAddress());
    EXPECT_STREQ("Unknown", from.hostName());
    EXPECT_EQ(boundPort(sender), uint16(from.port()));

    W::connect(sender, "127.0.0.1", port);
    EXPECT_EQ(3, W::send(sender, "abc", 3));
    EXPECT_EQ(3, W::recv(receiver, buffer, sizeof(buffer)));
    EXPECT_FALSE(W::waitReadable(receiver, 0));
}

TEST_F(SocketApiWrapperTest, StreamConnectAcceptEndOfStreamAndBrokenPipe)
{
    ScopedFd listener { W::createStreamSocket() };
    W::bind(listener, 0);
    W::listen(listener, 5);
    int port = boundPort(listener);
    ScopedFd client { W::createStreamSocket() };
    W::connect(client, SocketAddress("127.0.0.1", short(port)));
    SocketAddress peer;
    ScopedFd server { W::accept(listener, peer) };
    EXPECT_STREQ("127.0.0.1", peer.hostAddress());
    EXPECT_EQ(boundPort(client), uint16(peer.port()));
    sockaddr_in name;
    W::getPeerName(client, &name);
    EXPECT_EQ(port, ntohs(name.sin_port));

    EXPECT_EQ(4, W::send(client, "ping", 4));
    char buffer[8];
    EXPECT_EQ(4, W::recv(server, buffer, sizeof(buffer)));
    close(client.fd);
    client.fd = -1;
    EXPECT_EQ(0, W::recv(server, buffer, sizeof(buffer)));

    // Writing to a peer that has gone is an exception, not a SIGPIPE that ends the process.
    int code = 0;
    for (int i = 0; i < 100 && code == 0; ++i) {
        try {
            W::send(server, "x", 1);
            W::waitReadable(server, 100);
        } catch (const SocketException& e) {
            code = e.errorCode();
        }
    }
    EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;
}

TEST_F(SocketApiWrapperTest, UnresolvedAndLiteralBroadcastDestinations)
{
    runInPrivateNetwork([] {
        ScopedFd receiver { W::createDatagramSocket() };
        W::bind(receiver, 0);
        // Tied to lo, so that the limited broadcast has a way out inside the namespace.
        ScopedFd fd { W::createDatagramSocket() };
        ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3));

        // Unresolved: 255.255.255.255 at the address's port, which is 0 for every unresolved
        // address, and the system refuses port 0.
        expectSocketError(EINVAL, [&] { W::sendTo(fd, "x", 1, SocketAddress()); });

        // The literal reads as "no address" to inet_addr, goes through the resolver and comes
        // back as the same broadcast address: refused without permission, delivered with it.
        SocketAddress broadcast("255.255.255.255", short(boundPort(receiver)));
        expectSocketError(EACCES, [&] { W::sendTo(fd, "x", 1, broadcast); });
        int on = 1;
        ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)));
        EXPECT_EQ(1, W::sendTo(fd, "y", 1, broadcast));
        char byte = 0;
        ASSERT_TRUE(W::waitReadable(receiver, 5000));
        EXPECT_EQ(1, W::recv(receiver, &byte, 1));
        EXPECT_EQ('y', byte);
    });
}

TEST_F(SocketApiWrapperTest, RefusedUnresolvedAndUnknownConnectsThrowAndLeaveTheSocketAlone)
{
    runInPrivateNetwork([] {
        ScopedFd listener { W::createStreamSocket() };
        W::bind(listener, 0);
        ScopedFd fd { W::createStreamSocket() };
        expectSocketError(ECONNREFUSED, [&] { W::connect(fd, "127.0.0.1", boundPort(listener)); });
        expectSocketError(EDESTADDRREQ, [&] { W::connect(fd, SocketAddress()); });
        W::listen(listener, 5);
        auto start = std::chrono::steady_clock::now();
        try {
            W::connect(fd, "no-such-host.invalid", boundPort(listener));
            ADD_FAILURE() << "the lookup succeeded";
        } catch (const SocketException& e) {
            EXPECT_TRUE(e.errorCode() == HOST_NOT_FOUND || e.errorCode() == TRY_AGAIN)
                << e.errorCode();
            EXPECT_STREQ(hstrerror(e.errorCode()), e.message());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        W::connect(fd, "127.0.0.1", boundPort(listener));
    });
}

} // namespace
