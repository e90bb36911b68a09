#include "net/SocketChannel.h"

#include "NetTestSupport.h"
#include "net/ServerSocketChannel.h"
#include "support/StderrCapture.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace Kovan;
using KovanTest::openDescriptorCount;

namespace {

class SocketChannelTest : public KovanTest::NetTest {
protected:
    // A listening server on an ephemeral port; its channels are closed by TearDown.
    short listen()
    {
        _server.open();
        _server.bind(0, 5);
        return _server.localAddress()->port();
    }
    void TearDown() override
    {
        _server.close();
        NetTest::TearDown();
    }

    ServerSocketChannel _server;
};

// The system takes at most four bytes per write.
class ShortWriteChannel : public SocketChannel {
protected:
    int implWrite(SOCKET_FD sockfd, void* buff, int nbytes) override
    {
        return SocketChannel::implWrite(sockfd, buff, nbytes < 4 ? nbytes : 4);
    }
};

// Closes a channel when the test leaves, whichever way it leaves.
struct Closer {
    NetworkChannel& channel;
    ~Closer() { channel.close(); }
};

TEST_F(SocketChannelTest, ANewChannelIsClosedAndKnowsNoAddress)
{
    SocketChannel channel;
    EXPECT_FALSE(channel.isOpen());
    EXPECT_EQ(SocketApiWrapper::INVALID_FD, channel.sockfd());
    EXPECT_FALSE(channel.isConnected());
    EXPECT_TRUE(channel.localAddress()->isUnresolved());
    EXPECT_TRUE(channel.remoteAddress()->isUnresolved());
    channel.close();
    EXPECT_FALSE(channel.isOpen());
}

TEST_F(SocketChannelTest, OpeningAgainClosesTheFirstSocket)
{
    int before = openDescriptorCount();
    SocketChannel channel;
    Closer closer { channel };
    channel.open();
    EXPECT_TRUE(channel.isOpen());
    EXPECT_EQ(before + 1, openDescriptorCount());
    channel.open();
    EXPECT_EQ(before + 1, openDescriptorCount());
    // Open but unconnected: the system knows a local end (the wildcard), not a remote one.
    EXPECT_TRUE(channel.remoteAddress()->isUnresolved());
    channel.close();
    EXPECT_EQ(before, openDescriptorCount());
}

TEST_F(SocketChannelTest, ConnectOnAChannelNeverOpenedTracesAndThrows)
{
    SocketChannel channel;
    SocketAddress endpoint("127.0.0.1", 9);
    KovanTest::StderrCapture capture;
    try {
        channel.connect(&endpoint);
        ADD_FAILURE() << "connect succeeded";
    } catch (const SocketException& e) {
        EXPECT_EQ(EBADF, e.errorCode());
        EXPECT_STREQ("Bad file descriptor", e.message());
    }
    EXPECT_EQ("Socket Error: 9\n", capture.take());
    EXPECT_FALSE(channel.isConnected());
}

TEST_F(SocketChannelTest, ARefusedConnectKeepsTheChannelOpen)
{
    // Bound but not listening: the port refuses.
    SocketChannel closedPort;
    Closer closer1 { closedPort };
    closedPort.open();
    SocketApiWrapper::bind(closedPort.sockfd(), 0);
    SocketAddress endpoint("127.0.0.1", static_cast<short>(KovanTest::boundPort(closedPort.sockfd())));

    SocketChannel channel;
    Closer closer2 { channel };
    channel.open();
    KovanTest::StderrCapture capture;
    try {
        channel.connect(&endpoint);
        ADD_FAILURE() << "connect succeeded";
    } catch (const SocketException& e) {
        EXPECT_EQ(ECONNREFUSED, e.errorCode());
    }
    EXPECT_EQ("Socket Error: 111\n", capture.take());
    EXPECT_TRUE(channel.isOpen());
    EXPECT_FALSE(channel.isConnected());

    SocketAddress unresolved;
    try {
        channel.connect(&unresolved);
        ADD_FAILURE() << "connect succeeded";
    } catch (const SocketException& e) {
        EXPECT_EQ(EDESTADDRREQ, e.errorCode());
    }
    EXPECT_EQ("", capture.take());
}

TEST_F(SocketChannelTest, ConnectAcceptReadWriteAndShutdown)
{
    short port = listen();
    SocketChannel client;
    SocketChannel peer;
    Closer closer1 { client };
    Closer closer2 { peer };
    client.open();
    SocketAddress endpoint("127.0.0.1", port);
    ASSERT_TRUE(client.connect(&endpoint));
    EXPECT_TRUE(client.isConnected());
    EXPECT_STREQ("127.0.0.1", client.remoteAddress()->hostAddress());
    EXPECT_STREQ("Unknown", client.remoteAddress()->hostName());
    EXPECT_EQ(port, client.remoteAddress()->port());
    EXPECT_STREQ("127.0.0.1", client.localAddress()->hostAddress());

    _server.accept(&peer);
    EXPECT_TRUE(peer.isOpen());
    EXPECT_FALSE(peer.isConnected());
    EXPECT_STREQ("127.0.0.1", peer.remoteAddress()->hostAddress());
    EXPECT_EQ(client.localAddress()->port(), peer.remoteAddress()->port());
    EXPECT_EQ(port, peer.localAddress()->port());

    ByteBuffer out(16);
    out.put("hello, ", 7).putInt(0x01020304).flip();
    EXPECT_EQ(11, client.write(&out));
    EXPECT_EQ(11, out.position());
    EXPECT_EQ(0, client.write(&out));

    ByteBuffer in(32);
    in.position(2);
    ASSERT_TRUE(SocketApiWrapper::waitReadable(peer.sockfd(), 5000));
    EXPECT_EQ(11, peer.read(&in));
    EXPECT_EQ(13, in.position());
    EXPECT_EQ(0x01020304, in.getInt(9));

    // No room: asks for nothing and gets nothing.
    in.limit(13);
    EXPECT_EQ(0, peer.read(&in));

    client.shutdownOutput();
    in.limit(32);
    EXPECT_EQ(0, peer.read(&in));
    EXPECT_EQ(13, in.position());

    client.close();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(client.remoteAddress()->isUnresolved());
}

TEST_F(SocketChannelTest, ShortWritesAndFailedCallsMoveThePositionHonestly)
{
    short port = listen();
    ShortWriteChannel client;
    SocketChannel peer;
    Closer closer1 { client };
    Closer closer2 { peer };
    client.open();
    SocketAddress endpoint("127.0.0.1", port);
    ASSERT_TRUE(client.connect(&endpoint));
    _server.accept(&peer);

    ByteBuffer out(10);
    out.put("0123456789", 10).flip();
    EXPECT_EQ(4, client.write(&out));
    EXPECT_EQ(4, out.position());

    // Accepting into a channel that has a socket closes that socket first.
    int before = openDescriptorCount();
    SocketChannel other;
    Closer closer3 { other };
    other.open();
    client.close();
    client.open();
    client.connect(&endpoint);
    _server.accept(&other);
    EXPECT_EQ(before + 1, openDescriptorCount());

    SocketChannel closed;
    ByteBuffer buffer(4);
    buffer.position(1);
    EXPECT_EQ(-1, closed.read(&buffer));
    EXPECT_EQ(EBADF, SocketApiWrapper::errorCode());
    EXPECT_EQ(-1, closed.write(&buffer));
    EXPECT_EQ(1, buffer.position());
    EXPECT_THROW(closed.shutdownOutput(), SocketException);

    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    EXPECT_THROW(closed.accepted(-1, &address), SocketException);
    EXPECT_FALSE(closed.isOpen());
}

} // namespace
