#include "net/SocketChannel.h"

#include "NetTestSupport.h"
#include "support/StderrCapture.h"

#include "net/NonBlockingServerSocketChannel.h"
#include "net/NonBlockingSocketChannel.h"
#include "net/ServerSocketChannel.h"

using namespace Kovan;
using namespace KovanTest;

namespace {

class ChannelTest : public NetTest {
protected:
    SocketAddress listen(ServerSocketChannel& server, int backlog = 5)
    {
        server.open();
        server.bind(0, backlog);
        return SocketAddress("127.0.0.1", server.localAddress()->port());
    }
};

// The system takes at most four bytes per write.
class ShortWriteChannel : public SocketChannel {
protected:
    int implWrite(SOCKET_FD sockfd, void* buff, int nbytes) override
    {
        return SocketChannel::implWrite(sockfd, buff, nbytes < 4 ? nbytes : 4);
    }
};

bool isNonBlocking(const NetworkChannel& channel)
{
    return (fcntl(channel.sockfd(), F_GETFL) & O_NONBLOCK) != 0;
}

TEST_F(ChannelTest, ANewChannelIsClosedAndOpeningAgainClosesTheFirstSocket)
{
    SocketChannel channel;
    Closer closer { channel };
    EXPECT_FALSE(channel.isOpen());
    EXPECT_TRUE(channel.localAddress()->isUnresolved()); // the query on -1 fails quietly
    ByteBuffer buffer(4);
    buffer.position(1);
    EXPECT_EQ(-1, channel.read(&buffer));
    EXPECT_EQ(-1, channel.write(&buffer));
    EXPECT_EQ(1, buffer.position());
    expectSocketError(EBADF, [&] { channel.shutdownOutput(); });
    ServerSocketChannel server;
    expectSocketError(EBADF, [&] { server.setReuseAddress(true); });

    channel.open();
    channel.open(); // the first socket left open would show as a leak
}

TEST_F(ChannelTest, FailedConnectsKeepTheChannelAsItWasAndOnlyBlockingOnesTrace)
{
    SocketChannel channel;
    NonBlockingSocketChannel nonBlocking;
    ServerSocketChannel notListening;
    Closer c1 { channel }, c2 { nonBlocking }, c3 { notListening };
    StderrCapture capture;
    // Bound but not listening: refused.
    notListening.open();
    SocketApiWrapper::bind(notListening.sockfd(), 0);
    SocketAddress refused("127.0.0.1", short(boundPort(notListening.sockfd())));
    channel.open();
    expectSocketError(ECONNREFUSED, [&] { channel.connect(&refused); });
    EXPECT_EQ("Socket Error: 111\n", capture.take());
    EXPECT_TRUE(channel.isOpen());
    EXPECT_FALSE(channel.isConnected());

    nonBlocking.open();
    EXPECT_TRUE(isNonBlocking(nonBlocking));
    expectSocketError(
        ECONNREFUSED, [&] { nonBlocking.connect(&refused) || nonBlocking.finishConnect(5000); });
    EXPECT_FALSE(nonBlocking.isConnected());
    EXPECT_EQ("", capture.take());
}

TEST_F(ChannelTest, ConnectAcceptShortWritesReadShutdownAndPortReuse)
{
    ServerSocketChannel server;
    ShortWriteChannel client;
    SocketChannel peer;
    Closer c1 { server }, c2 { client }, c3 { peer };
    SocketAddress endpoint = listen(server);
    EXPECT_TRUE(server.isBound());
    EXPECT_EQ(boundPort(server.sockfd()), uint16(endpoint.port()));
    EXPECT_STREQ("0.0.0.0", server.localAddress()->hostAddress());
    client.open();
    ASSERT_TRUE(client.connect(&endpoint));
    EXPECT_EQ(endpoint.port(), client.remoteAddress()->port());

    peer.open();
    server.accept(&peer); // closes the socket the channel had, or the fixture sees a leak
    EXPECT_FALSE(peer.isConnected());
    EXPECT_STREQ("127.0.0.1", peer.remoteAddress()->hostAddress());
    EXPECT_EQ(client.localAddress()->port(), peer.remoteAddress()->port());
    EXPECT_EQ(endpoint.port(), peer.localAddress()->port());

    ByteBuffer out(16);
    out.put("hello, ", 7).putInt(0x01020304).flip();
    EXPECT_EQ(4, client.write(&out));
    EXPECT_EQ(4, client.write(&out));
    EXPECT_EQ(3, client.write(&out));
    ByteBuffer in(32);
    in.position(2);
    ASSERT_TRUE(SocketApiWrapper::waitReadable(peer.sockfd(), 5000));
    ASSERT_EQ(11, peer.read(&in));
    ASSERT_EQ(13, in.position());
    EXPECT_EQ(0x01020304, in.getInt(9));
    in.limit(13);
    EXPECT_EQ(0, peer.read(&in)); // no room: asks for nothing, does not wait

    client.shutdownOutput();
    in.limit(32);
    EXPECT_EQ(0, peer.read(&in));
    client.close();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(client.remoteAddress()->isUnresolved());

    // A second server on the same port fails and stays unbound; the first, closed, is unbound.
    ServerSocketChannel second;
    Closer c4 { second };
    second.open();
    second.setReuseAddress(true);
    EXPECT_TRUE(second.getReuseAddress());
    expectSocketError(EADDRINUSE, [&] { second.bind(endpoint.port(), 5); });
    EXPECT_FALSE(second.isBound());
    expectSocketError(
        0, [&] { second.accept(&peer); }, "Socket is not bound yet");
    server.close();
    EXPECT_FALSE(server.isBound());
    EXPECT_TRUE(server.localAddress()->isUnresolved());
}

TEST_F(ChannelTest, NonBlockingServerAndAcceptedModes)
{
    NonBlockingServerSocketChannel server;
    SocketChannel client1, client2, blocking;
    NonBlockingSocketChannel nonBlocking;
    Closer c1 { server }, c2 { client1 }, c3 { client2 }, c4 { blocking }, c5 { nonBlocking };
    SocketAddress endpoint = listen(server);
    EXPECT_TRUE(isNonBlocking(server));
    expectSocketError(SocketApiWrapper::WOULD_BLOCK, [&] { server.accept(&blocking); });
    EXPECT_FALSE(blocking.isOpen());

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

    ByteBuffer buffer(8);
    EXPECT_EQ(-1, nonBlocking.read(&buffer));
    EXPECT_EQ(SocketApiWrapper::WOULD_BLOCK, SocketApiWrapper::errorCode());
    EXPECT_EQ(0, buffer.position());
}

TEST_F(ChannelTest, AConnectToAFullListenerStaysInProgress)
{
    // Backlog 0 holds one connection; with nobody accepting, the listener drops the next
    // handshakes and those connects go on in the background.
    ServerSocketChannel server;
    SocketChannel first, accepted;
    NonBlockingSocketChannel slow;
    Closer c1 { server }, c2 { first }, c3 { accepted }, c4 { slow };
    SocketAddress endpoint = listen(server, 0);
    first.open();
    ASSERT_TRUE(first.connect(&endpoint));
    slow.open();
    EXPECT_FALSE(slow.connect(&endpoint));
    EXPECT_FALSE(slow.isConnected());
    EXPECT_TRUE(slow.remoteAddress()->isUnresolved());
    EXPECT_FALSE(slow.finishConnect(50));

    // Once the listener has room, a retried handshake completes.
    server.accept(&accepted);
    EXPECT_TRUE(slow.finishConnect(10000));
    EXPECT_TRUE(slow.finishConnect(0)) << "already connected";
    EXPECT_EQ(endpoint.port(), slow.remoteAddress()->port());
}

TEST(ChannelDeathTest, AcceptedNeedsThePeerAddress)
{
    SocketChannel channel;
    EXPECT_DEATH(channel.accepted(-1, nullptr), "0 != addr: ");
}

} // namespace
