#include "net/SocketApiWrapper.h"

#include "NetTestSupport.h"

#include "net/SocketAddress.h"

#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <string>

using namespace Kovan;
using namespace KovanTest;
typedef SocketApiWrapper W;

namespace {

class SocketApiWrapperTest : public NetTest { };

TEST_F(SocketApiWrapperTest, ExceptionTextsAndFailuresOnAClosedDescriptor)
{
    EXPECT_STREQ("Unknown error 99999", SocketException(99999).message());
    std::string longText = "a" + std::string(299, 'x');
    SocketException cut(5, longText.c_str());
    EXPECT_EQ(5, cut.errorCode());
    EXPECT_EQ(longText.substr(0, 255), cut.message());

    W::cleanup();
    EXPECT_FALSE(W::isInitialized());
    int fd = W::createDatagramSocket();
    EXPECT_TRUE(W::isInitialized());
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
    EXPECT_EQ(before | O_NONBLOCK, fcntl(fd, F_GETFL));
    W::configureBlocking(fd, true);
    EXPECT_EQ(before, fcntl(fd, F_GETFL));
}

TEST_F(SocketApiWrapperTest, DatagramsTravelThroughSendToAndRecvFrom)
{
    ScopedFd receiver { W::createDatagramSocket() }, sender { W::createDatagramSocket() };
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
    EXPECT_EQ(boundPort(sender), uint16(from.port()));

    W::connect(sender, "127.0.0.1", port);
    EXPECT_EQ(3, W::send(sender, "abc", 3));
    EXPECT_EQ(3, W::recv(receiver, buffer, sizeof(buffer)));
    EXPECT_FALSE(W::waitReadable(receiver, 0));
}

TEST_F(SocketApiWrapperTest, StreamConnectAcceptEndOfStreamAndBrokenPipe)
{
    ScopedFd listener { W::createStreamSocket() }, client { W::createStreamSocket() };
    W::bind(listener, 0);
    W::listen(listener, 5);
    W::connect(client, SocketAddress("127.0.0.1", short(boundPort(listener))));
    SocketAddress peer;
    ScopedFd server { W::accept(listener, peer) };
    EXPECT_STREQ("127.0.0.1", peer.hostAddress());
    EXPECT_EQ(boundPort(client), uint16(peer.port()));

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
        ScopedFd receiver { W::createDatagramSocket() }, fd { W::createDatagramSocket() };
        W::bind(receiver, 0);
        // Tied to lo, so that the limited broadcast has a way out inside the namespace.
        ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3));
        // Unresolved: 255.255.255.255 at port 0, which the system refuses.
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

TEST_F(SocketApiWrapperTest, UnresolvedAndUnknownConnectsThrowAndLeaveTheSocketAlone)
{
    runInPrivateNetwork([] {
        ScopedFd listener { W::createStreamSocket() }, fd { W::createStreamSocket() };
        W::bind(listener, 0);
        W::listen(listener, 5);
        expectSocketError(EDESTADDRREQ, [&] { W::connect(fd, SocketAddress()); });
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
