#include "net/SocketApiWrapper.h"

#include "NetTestSupport.h"
#include "net/SocketAddress.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace Kovan;
using KovanTest::boundPort;
using KovanTest::runInPrivateNetwork;
using KovanTest::ScopedFd;

namespace {

class SocketApiWrapperTest : public KovanTest::NetTest { };

// A TCP listener on an ephemeral port of every local address.
int listenOnSomePort(ScopedFd& listener, int backlog = 5)
{
    listener.reset(SocketApiWrapper::createStreamSocket());
    SocketApiWrapper::bind(listener, 0);
    SocketApiWrapper::listen(listener, backlog);
    return boundPort(listener);
}

// Expects `statement` to throw a SocketException with `code` and the system's text for it.
#define EXPECT_SYSTEM_ERROR(statement, code)                                                       \
    do {                                                                                           \
        try {                                                                                      \
            statement;                                                                             \
            ADD_FAILURE() << #statement " did not throw";                                          \
        } catch (const SocketException& e) {                                                       \
            EXPECT_EQ(code, e.errorCode());                                                        \
            EXPECT_STREQ(strerror(code), e.message());                                             \
        }                                                                                          \
    } while (0)

TEST_F(SocketApiWrapperTest, InvalidDescriptorsAreTheNegativeOnes)
{
    EXPECT_TRUE(SocketApiWrapper::isInvalidFd(SocketApiWrapper::INVALID_FD));
    EXPECT_TRUE(SocketApiWrapper::isInvalidFd(-7));
    EXPECT_FALSE(SocketApiWrapper::isInvalidFd(0));
    EXPECT_EQ(115, SocketApiWrapper::CONNECT_IN_PROGRESS);
    EXPECT_EQ(EINPROGRESS, SocketApiWrapper::CONNECT_IN_PROGRESS);
    EXPECT_EQ(EAGAIN, SocketApiWrapper::WOULD_BLOCK);
}

TEST_F(SocketApiWrapperTest, CreationSetsTheInitialisedFlagAgainAfterCleanup)
{
    SocketApiWrapper::cleanup();
    EXPECT_FALSE(SocketApiWrapper::isInitialized());
    ScopedFd datagram(SocketApiWrapper::createDatagramSocket());
    ASSERT_FALSE(SocketApiWrapper::isInvalidFd(datagram));
    EXPECT_TRUE(SocketApiWrapper::isInitialized());

    SocketApiWrapper::cleanup();
    ScopedFd stream(SocketApiWrapper::createStreamSocket());
    ASSERT_FALSE(SocketApiWrapper::isInvalidFd(stream));
    EXPECT_TRUE(SocketApiWrapper::isInitialized());
    int type = 0;
    socklen_t length = sizeof(type);
    ASSERT_EQ(0, getsockopt(stream, SOL_SOCKET, SO_TYPE, &type, &length));
    EXPECT_EQ(SOCK_STREAM, type);
}

TEST_F(SocketApiWrapperTest, ExceptionTextsComeFromTheSystemAndAreCutAt255)
{
    SocketException system(EBADF);
    EXPECT_EQ(EBADF, system.errorCode());
    EXPECT_STREQ("Bad file descriptor", system.message());

    SocketException unknown(99999);
    EXPECT_STREQ("Unknown error 99999", unknown.message());

    SocketException given(0, "Socket is not bound yet");
    EXPECT_STREQ("Socket is not bound yet", given.message());

    std::string longText(300, 'x');
    longText[0] = 'a';
    SocketException cut(5, longText.c_str());
    EXPECT_EQ(longText.substr(0, 255), cut.message());

    SocketException copy = cut;
    EXPECT_EQ(5, copy.errorCode());
    EXPECT_EQ(255u, strlen(copy.message()));
}

TEST_F(SocketApiWrapperTest, ClosingAClosedDescriptorThrowsBadDescriptor)
{
    int fd = SocketApiWrapper::createDatagramSocket();
    ASSERT_GE(fd, 0);
    SocketApiWrapper::closeSocket(fd);
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::closeSocket(fd), EBADF);
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::configureBlocking(fd, false), EBADF);
    sockaddr_in address;
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::getSocketName(fd, &address), EBADF);
}

TEST_F(SocketApiWrapperTest, ConfigureBlockingTouchesOnlyTheNonBlockingFlag)
{
    ScopedFd fd(SocketApiWrapper::createStreamSocket());
    ASSERT_EQ(0, fcntl(fd, F_SETFL, O_APPEND));
    int before = fcntl(fd, F_GETFL);
    ASSERT_FALSE(before & O_NONBLOCK);

    SocketApiWrapper::configureBlocking(fd, false);
    SocketApiWrapper::configureBlocking(fd, false);
    EXPECT_EQ(before | O_NONBLOCK, fcntl(fd, F_GETFL));

    SocketApiWrapper::configureBlocking(fd, true);
    EXPECT_EQ(before, fcntl(fd, F_GETFL));
}

TEST_F(SocketApiWrapperTest, DatagramsTravelThroughSendToAndRecvFrom)
{
    ScopedFd receiver(SocketApiWrapper::createDatagramSocket());
    ScopedFd sender(SocketApiWrapper::createDatagramSocket());
    SocketApiWrapper::bind(receiver, 0);
    SocketApiWrapper::bind(sender, 0);
    int receiverPort = boundPort(receiver);
    // Ephemeral ports lie above 32767: they travel as negative shorts and must arrive intact.
    ASSERT_GT(receiverPort, 32767);

    SocketAddress to("127.0.0.1", static_cast<short>(receiverPort));
    EXPECT_LT(to.port(), 0);
    EXPECT_EQ(5, SocketApiWrapper::sendTo(sender, "hello", 5, to));

    ASSERT_TRUE(SocketApiWrapper::waitReadable(receiver, 5000));
    char buffer[16] = {};
    SocketAddress from;
    EXPECT_EQ(5, SocketApiWrapper::recvFrom(receiver, buffer, sizeof(buffer), from));
    EXPECT_STREQ("hello", buffer);
    EXPECT_STREQ("127.0.0.1", from.hostAddress());
    EXPECT_STREQ("Unknown", from.hostName());
    EXPECT_EQ(boundPort(sender), static_cast<uint16>(from.port()));

    // A connected datagram socket: the string form of connect, then plain send and recv.
    SocketApiWrapper::connect(sender, "127.0.0.1", receiverPort);
    EXPECT_EQ(3, SocketApiWrapper::send(sender, "abc", 3));
    EXPECT_EQ(3, SocketApiWrapper::recv(receiver, buffer, sizeof(buffer)));
    EXPECT_EQ(0, memcmp("abc", buffer, 3));
    EXPECT_FALSE(SocketApiWrapper::waitReadable(receiver, 0));
}

TEST_F(SocketApiWrapperTest, StreamConnectAcceptAndEndOfStream)
{
    ScopedFd listener;
    int port = listenOnSomePort(listener);
    ScopedFd client(SocketApiWrapper::createStreamSocket());
    SocketApiWrapper::connect(client, SocketAddress("127.0.0.1", static_cast<short>(port)));

    SocketAddress peer;
    ScopedFd server(SocketApiWrapper::accept(listener, peer));
    EXPECT_STREQ("127.0.0.1", peer.hostAddress());
    EXPECT_EQ(boundPort(client), static_cast<uint16>(peer.port()));

    sockaddr_in name;
    SocketApiWrapper::getPeerName(client, &name);
    EXPECT_EQ(port, ntohs(name.sin_port));
    SocketApiWrapper::getSocketName(server, &name);
    EXPECT_EQ(port, ntohs(name.sin_port));

    EXPECT_EQ(4, SocketApiWrapper::send(client, "ping", 4));
    char buffer[8];
    EXPECT_EQ(4, SocketApiWrapper::recv(server, buffer, sizeof(buffer)));

    client.reset();
    EXPECT_EQ(0, SocketApiWrapper::recv(server, buffer, sizeof(buffer)));

    // Writing to a peer that has gone is an exception, not a SIGPIPE that ends the process.
    int code = 0;
    for (int i = 0; i < 100 && code == 0; ++i) {
        try {
            SocketApiWrapper::send(server, "x", 1);
            SocketApiWrapper::waitReadable(server, 100);
        } catch (const SocketException& e) {
            code = e.errorCode();
        }
    }
    EXPECT_TRUE(code == EPIPE || code == ECONNRESET) << code;
}

TEST_F(SocketApiWrapperTest, RefusedAndUnresolvedConnectsThrow)
{
    // A bound port that does not listen refuses at once.
    ScopedFd closedPort(SocketApiWrapper::createStreamSocket());
    SocketApiWrapper::bind(closedPort, 0);
    ScopedFd client(SocketApiWrapper::createStreamSocket());
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::connect(client, "127.0.0.1", boundPort(closedPort)),
        ECONNREFUSED);

    ScopedFd other(SocketApiWrapper::createStreamSocket());
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::connect(other, SocketAddress()), EDESTADDRREQ);
    EXPECT_SYSTEM_ERROR(SocketApiWrapper::waitReadable(-1, 0), EBADF);
}

TEST_F(SocketApiWrapperTest, UnresolvedAndLiteralBroadcastDestinations)
{
    runInPrivateNetwork([] {
        ScopedFd receiver(SocketApiWrapper::createDatagramSocket());
        SocketApiWrapper::bind(receiver, 0);
        short port = static_cast<short>(boundPort(receiver));

        // Tied to lo, so that the limited broadcast has a way out inside the namespace.
        ScopedFd fd(SocketApiWrapper::createDatagramSocket());
        ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "lo", 3));

        // Unresolved: 255.255.255.255 at the address's port, which is 0 for every unresolved
        // address, and the system refuses port 0.
        EXPECT_SYSTEM_ERROR(SocketApiWrapper::sendTo(fd, "x", 1, SocketAddress()), EINVAL);

        // The literal reads as "no address" to inet_addr, goes through the resolver and comes
        // back as the same broadcast address: refused without permission, delivered with it.
        SocketAddress broadcast("255.255.255.255", port);
        ASSERT_FALSE(broadcast.isUnresolved());
        EXPECT_SYSTEM_ERROR(SocketApiWrapper::sendTo(fd, "x", 1, broadcast), EACCES);
        int on = 1;
        ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)));
        EXPECT_EQ(1, SocketApiWrapper::sendTo(fd, "y", 1, broadcast));
        ASSERT_TRUE(SocketApiWrapper::waitReadable(receiver, 5000));
        char byte = 0;
        SocketAddress from;
        EXPECT_EQ(1, SocketApiWrapper::recvFrom(receiver, &byte, 1, from));
        EXPECT_EQ('y', byte);
    });
}

TEST_F(SocketApiWrapperTest, AnUnknownNameThrowsTheResolverErrorAndLeavesTheSocketAlone)
{
    runInPrivateNetwork([] {
        ScopedFd listener;
        int port = listenOnSomePort(listener);
        ScopedFd fd(SocketApiWrapper::createStreamSocket());

        auto start = std::chrono::steady_clock::now();
        try {
            SocketApiWrapper::connect(fd, "no-such-host.invalid", port);
            ADD_FAILURE() << "the lookup succeeded";
        } catch (const SocketException& e) {
            EXPECT_TRUE(e.errorCode() == HOST_NOT_FOUND || e.errorCode() == TRY_AGAIN
                || e.errorCode() == NO_RECOVERY)
                << e.errorCode();
            EXPECT_STREQ(hstrerror(e.errorCode()), e.message());
        }
        SocketAddress unknown("no-such-host.invalid", 80);
        EXPECT_TRUE(unknown.isUnresolved());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

        // Untouched: the same socket still connects.
        SocketApiWrapper::connect(fd, "127.0.0.1", port);
    });
}

TEST_F(SocketApiWrapperTest, ANonBlockingConnectStillInProgressThrows)
{
    runInPrivateNetwork([] {
        // Backlog 0 holds one connection; with nobody accepting, the next handshake is
        // dropped by the listener and the connect stays in progress.
        ScopedFd listener;
        int port = listenOnSomePort(listener, 0);
        ScopedFd first(SocketApiWrapper::createStreamSocket());
        SocketApiWrapper::connect(first, "127.0.0.1", port);

        ScopedFd second(SocketApiWrapper::createStreamSocket());
        SocketApiWrapper::configureBlocking(second, false);
        try {
            SocketApiWrapper::connect(second, "127.0.0.1", port);
            ADD_FAILURE() << "the connect completed";
        } catch (const SocketException& e) {
            EXPECT_EQ(SocketApiWrapper::CONNECT_IN_PROGRESS, e.errorCode());
            EXPECT_STREQ("Operation now in progress", e.message());
        }
        EXPECT_FALSE(SocketApiWrapper::waitWritable(second, 100));
    });
}

} // namespace
