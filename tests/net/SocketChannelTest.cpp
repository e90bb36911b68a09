#include "net/SocketChannel.h"

#include "support/StderrCapture.h"
#include "tests/net/NetTestSupport.h"

#include "net/NonBlockingServerSocketChannel.h"
#include "net/NonBlockingSocketChannel.h"

namespace {

// A channel keeps its socket until closed: these close on leaving the test.
template <typename T> struct Closing : T {
    ~Closing() override { this->close(); }
};

SocketAddress listen(ServerSocketChannel& server, int backlog = 5)
{
    server.open();
    server.bind(0, backlog);
    return SocketAddress("127.0.0.1", server.localAddress()->port());
}

} // namespace

class SocketChannelTest : public NetTest { };

TEST_F(SocketChannelTest, ClosedChannelsAndRefusedConnectsFailCleanlyAndOnlyBlockingOnesTrace)
{
    Closing<SocketChannel> channel;
    Closing<NonBlockingSocketChannel> nonBlocking;
    ByteBuffer buffer(4);
    buffer.position(1);
    EXPECT_EQ(-1, channel.read(&buffer));
    EXPECT_EQ(-1, channel.write(&buffer));
    EXPECT_EQ(1, buffer.position());
    expectSocketError(EBADF, [&] { channel.shutdownOutput(); });
    channel.open();
    channel.open(); // the first socket left open would show as a leak
    SocketAddress refused("127.0.0.1", 1); // nobody listens in the private network
    StderrCapture capture;
    expectSocketError(ECONNREFUSED, [&] { channel.connect(&refused); });
    EXPECT_EQ("Socket Error: 111\n", capture.take());
    nonBlocking.open();
    expectSocketError(
        ECONNREFUSED, [&] { nonBlocking.connect(&refused) || nonBlocking.finishConnect(5000); });
    EXPECT_EQ("", capture.take());
}

TEST_F(SocketChannelTest, ConnectAcceptWriteReadShutdownAndPortReuse)
{
    Closing<NonBlockingServerSocketChannel> server;
    Closing<ServerSocketChannel> second;
    Closing<SocketChannel> client;
    Closing<NonBlockingSocketChannel> peer;
    SocketAddress endpoint = listen(server);
    ASSERT_NE(0, fcntl(server.sockfd(), F_GETFL) & O_NONBLOCK) << "the accept below would wait";
    expectSocketError(W::WOULD_BLOCK, [&] { server.accept(&peer); });
    EXPECT_FALSE(W::waitReadable(server.sockfd(), 0)) << "a limit of 0 looks once";
    EXPECT_STREQ("0.0.0.0", server.localAddress()->hostAddress());
    EXPECT_FALSE(client.isConnected()) << "connected before it was opened";
    client.open();
    ASSERT_TRUE(client.connect(&endpoint));
    EXPECT_EQ(endpoint.port(), client.remoteAddress()->port());
    peer.open();
    ASSERT_TRUE(W::waitReadable(server.sockfd(), 5000));
    server.accept(&peer); // closes the socket the channel had, or the fixture sees a leak
    EXPECT_NE(0, fcntl(peer.sockfd(), F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(client.localAddress()->port(), peer.remoteAddress()->port());
    EXPECT_EQ(endpoint.port(), peer.localAddress()->port());

    ByteBuffer out(16), in(32);
    out.put("hello, ", 7).putInt(0x01020304).flip();
    EXPECT_EQ(11, client.write(&out));
    EXPECT_EQ(11, out.position());
    in.position(2);
    ASSERT_TRUE(W::waitReadable(peer.sockfd(), 5000));
    ASSERT_EQ(11, peer.read(&in));
    ASSERT_EQ(13, in.position());
    EXPECT_EQ(0x01020304, in.getInt(9));
    EXPECT_EQ(0, peer.read(&in.limit(13))); // no room: asks for nothing, does not wait
    client.shutdownOutput();
    EXPECT_EQ(0, peer.read(&in.limit(32)));
    client.close();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(client.remoteAddress()->isUnresolved());

    // A new server is unbound and cannot take the port; the first, closed, is unbound again.
    second.open();
    second.setReuseAddress(true);
    EXPECT_TRUE(second.getReuseAddress());
    expectSocketError(
        0, [&] { second.accept(&peer); }, "Socket is not bound yet");
    expectSocketError(EADDRINUSE, [&] { second.bind(endpoint.port(), 5); });
    server.close();
    EXPECT_FALSE(server.isBound());
    EXPECT_TRUE(server.localAddress()->isUnresolved());
}

TEST_F(SocketChannelTest, AConnectToAFullListenerStaysInProgressUntilTheQueueHasRoom)
{
    // Backlog 0 holds one connection; the next handshakes go on in the background.
    Closing<ServerSocketChannel> server;
    Closing<SocketChannel> first, accepted;
    Closing<NonBlockingSocketChannel> slow;
    SocketAddress endpoint = listen(server, 0);
    first.open();
    ASSERT_TRUE(first.connect(&endpoint));
    slow.open();
    EXPECT_FALSE(slow.connect(&endpoint));
    EXPECT_TRUE(slow.remoteAddress()->isUnresolved());
    EXPECT_FALSE(slow.finishConnect(50));
    // A channel that refuses the first one: its socket is closed, or the fixture sees a leak.
    struct Refusing : SocketChannel {
        void accepted(SOCKET_FD, const sockaddr_in*) override { throw SocketException(EMFILE); }
    } refusing;
    expectSocketError(EMFILE, [&] { server.accept(&refusing); });
    server.accept(&accepted);
    ASSERT_TRUE(W::waitWritable(slow.sockfd(), 10000));
    EXPECT_EQ(endpoint.port(), slow.remoteAddress()->port()) << "asked for before the finish";
    EXPECT_TRUE(slow.finishConnect(10000));
    EXPECT_TRUE(slow.finishConnect(0)) << "already connected";
    EXPECT_EQ(endpoint.port(), slow.remoteAddress()->port());
}
