#include "net/ServerSocketChannel.h"

#include "NetTestSupport.h"
#include "net/NonBlockingServerSocketChannel.h"
#include "net/NonBlockingSocketChannel.h"
#include "support/StderrCapture.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Kovan;

namespace {

class ServerSocketChannelTest : public KovanTest::NetTest { };

struct Closer {
    NetworkChannel& channel;
    ~Closer() { channel.close(); }
};

bool isNonBlocking(const NetworkChannel& channel)
{
    return (fcntl(channel.sockfd(), F_GETFL) & O_NONBLOCK) != 0;
}

void expectSocketError(int code, const char* message, const std::function<void()>& f)
{
    try {
        f();
        ADD_FAILURE() << "no SocketException";
    } catch (const SocketException& e) {
        EXPECT_EQ(code, e.errorCode());
        EXPECT_STREQ(message, e.message());
    }
}

TEST_F(ServerSocketChannelTest, BindToPortZeroReportsThePortChosen)
{
    char hostName[256] = {};
    gethostname(hostName, sizeof(hostName) - 1);
    hostName[50] = '\0';

    ServerSocketChannel server;
    Closer closer { server };
    EXPECT_TRUE(server.localAddress()->isUnresolved());
    server.open();
    server.bind(0, 5);
    EXPECT_TRUE(server.isBound());
    EXPECT_NE(0, server.localAddress()->port());
    EXPECT_EQ(KovanTest::boundPort(server.sockfd()),
        static_cast<uint16>(server.localAddress()->port()));
    EXPECT_STREQ("0.0.0.0", server.localAddress()->hostAddress());
    EXPECT_STREQ(hostName, server.localAddress()->hostName());

    // The port is taken: a second bind fails and leaves that channel unbound.
    ServerSocketChannel second;
    Closer closer2 { second };
    second.open();
    short port = server.localAddress()->port();
    expectSocketError(EADDRINUSE, strerror(EADDRINUSE), [&] { second.bind(port, 5); });
    EXPECT_FALSE(second.isBound());
    EXPECT_TRUE(second.localAddress()->isUnresolved());

    server.close();
    EXPECT_FALSE(server.isBound());
    EXPECT_TRUE(server.localAddress()->isUnresolved());
    server.open();
    SocketChannel channel;
    expectSocketError(0, "Socket is not bound yet", [&] { server.accept(&channel); });
}

TEST_F(ServerSocketChannelTest, ReuseAddressOption)
{
    ServerSocketChannel server;
    Closer closer { server };
    expectSocketError(EBADF, "Bad file descriptor", [&] { server.setReuseAddress(true); });
    expectSocketError(EBADF, "Bad file descriptor", [&] { server.getReuseAddress(); });
    server.open();
    server.setReuseAddress(true);
    EXPECT_TRUE(server.getReuseAddress());
    server.setReuseAddress(false);
    EXPECT_FALSE(server.getReuseAddress());
}

TEST_F(ServerSocketChannelTest, NonBlockingServerWithNothingPendingWouldBlock)
{
    NonBlockingServerSocketChannel server;
    Closer closer { server };
    server.open();
    EXPECT_TRUE(isNonBlocking(server));
    server.bind(0, 5);
    SocketChannel channel;
    expectSocketError(SocketApiWrapper::WOULD_BLOCK, strerror(EAGAIN),
        [&] { server.accept(&channel); });
    EXPECT_FALSE(channel.isOpen());
}

TEST_F(ServerSocketChannelTest, AcceptedConnectionsTakeTheModeOfTheirChannel)
{
    NonBlockingServerSocketChannel server;
    Closer closer { server };
    server.open();
    server.bind(0, 5);
    SocketAddress endpoint("127.0.0.1", server.localAddress()->port());

    SocketChannel client1, client2, blocking;
    NonBlockingSocketChannel nonBlocking;
    Closer c1 { client1 }, c2 { client2 }, c3 { blocking }, c4 { nonBlocking };
    client1.open();
    client2.open();
    ASSERT_TRUE(client1.connect(&endpoint));
    ASSERT_TRUE(client2.connect(&endpoint));

    ASSERT_TRUE(SocketApiWrapper::waitReadable(server.sockfd(), 5000));
    server.accept(&nonBlocking);
    EXPECT_TRUE(isNonBlocking(nonBlocking));
    ASSERT_TRUE(SocketApiWrapper::waitReadable(server.sockfd(), 5000));
    server.accept(&blocking);
    EXPECT_FALSE(isNonBlocking(blocking));

    // Nothing to read on the non-blocking end: -1 with the would-block error, buffer untouched.
    ByteBuffer buffer(8);
    EXPECT_EQ(-1, nonBlocking.read(&buffer));
    EXPECT_EQ(SocketApiWrapper::WOULD_BLOCK, SocketApiWrapper::errorCode());
    EXPECT_EQ(0, buffer.position());
}

TEST_F(ServerSocketChannelTest, NonBlockingConnectsCompleteInTheBackground)
{
    ServerSocketChannel server;
    Closer closer { server };
    server.open();
    server.bind(0, 5);
    SocketAddress endpoint("127.0.0.1", server.localAddress()->port());

    NonBlockingSocketChannel client;
    Closer c1 { client };
    client.open();
    EXPECT_TRUE(isNonBlocking(client));
    if (!client.connect(&endpoint)) {
        EXPECT_FALSE(client.isConnected());
        EXPECT_TRUE(client.finishConnect(5000));
    }
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(client.finishConnect());
    EXPECT_STREQ("127.0.0.1", client.remoteAddress()->hostAddress());
    EXPECT_EQ(endpoint.port(), client.remoteAddress()->port());
    EXPECT_STREQ("127.0.0.1", client.localAddress()->hostAddress());

    // A refusal is thrown by connect or by finishConnect, and never traced.
    ServerSocketChannel notListening;
    Closer c2 { notListening };
    notListening.open();
    SocketApiWrapper::bind(notListening.sockfd(), 0);
    SocketAddress refused("127.0.0.1",
        static_cast<short>(KovanTest::boundPort(notListening.sockfd())));
    NonBlockingSocketChannel other;
    Closer c3 { other };
    other.open();
    KovanTest::StderrCapture capture;
    expectSocketError(ECONNREFUSED, strerror(ECONNREFUSED), [&] {
        if (!other.connect(&refused))
            other.finishConnect(5000);
    });
    EXPECT_EQ("", capture.take());
    EXPECT_FALSE(other.isConnected());
}

TEST_F(ServerSocketChannelTest, AConnectToAFullListenerStaysInProgress)
{
    KovanTest::runInPrivateNetwork([] {
        // Backlog 0 holds one connection; with nobody accepting, the listener drops the next
        // handshake and the connect goes on in the background.
        ServerSocketChannel server;
        Closer closer { server };
        server.open();
        server.bind(0, 0);
        SocketAddress endpoint("127.0.0.1", server.localAddress()->port());
        SocketChannel first;
        Closer c1 { first };
        first.open();
        ASSERT_TRUE(first.connect(&endpoint));

        NonBlockingSocketChannel slow;
        Closer c2 { slow };
        slow.open();
        EXPECT_FALSE(slow.connect(&endpoint));
        EXPECT_FALSE(slow.isConnected());
        EXPECT_TRUE(slow.remoteAddress()->isUnresolved());
        EXPECT_FALSE(slow.finishConnect(0));
        EXPECT_FALSE(slow.finishConnect(50));
        // Once the listener has room, the retried handshake completes.
        SocketChannel accepted;
        Closer c3 { accepted };
        server.accept(&accepted);
        EXPECT_TRUE(slow.finishConnect(10000));
        EXPECT_TRUE(slow.isConnected());
        EXPECT_EQ(endpoint.port(), slow.remoteAddress()->port());
    });
}

} // namespace
