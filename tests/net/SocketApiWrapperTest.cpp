#include "net/SocketApiWrapper.h"

#include "tests/net/NetTestSupport.h"

#include "net/DatagramBatch.h"

#include <algorithm>
#include <netdb.h>
#include <sys/resource.h>

class SocketApiWrapperTest : public NetTest { };

TEST_F(SocketApiWrapperTest, ALongMessageIsCutInsideTheException)
{
    alignas(SocketException) unsigned char room[sizeof(SocketException) + 8];
    memset(room, 0x5A, sizeof(room));
    const auto* e = new (room) SocketException(5, std::string(299, 'x').c_str());
    EXPECT_EQ(std::string(255, 'x'), e->message());
    EXPECT_EQ(
        std::string(8, 0x5A), std::string(room + sizeof(SocketException), room + sizeof(room)));
}

TEST_F(SocketApiWrapperTest, EveryCallOnAClosedDescriptorThrows)
{
    W::cleanup();
    EXPECT_FALSE(W::isInitialized());
    int fd = W::createDatagramSocket();
    EXPECT_TRUE(W::isInitialized());
    W::closeSocket(fd);
    char byte;
    sockaddr_in source;
    timespec arrival;
    SocketAddress peer;
    const std::function<void()> calls[] = { [&] { W::closeSocket(fd); },
        [&] { W::configureBlocking(fd, false); }, [&] { W::recv(fd, &byte, 1); },
        [&] { W::send(fd, &byte, 1); }, [&] { W::recvFrom(fd, &byte, 1, &source, &arrival); },
        [&] { W::accept(fd, peer); }, [&] { W::listen(fd, 1); }, [&] { W::bind(fd, 0); },
        [&] { W::getPeerName(fd, &source); },
        [&] { W::setOption(fd, SOL_SOCKET, SO_REUSEADDR, 1); }, [&] { W::waitReadable(fd, 0); },
        [&] { W::waitWritable(-1, 0); }, [&] { detail::setSocketTimeouts(fd, 1); } };
    for (const auto& call : calls)
        expectSocketError(EBADF, call);
    // One past select()'s set is refused before any wait, even when it is open.
    rlimit files;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &files));
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, FD_SETSIZE + 1);
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &files));
    ScopedFd open { W::createDatagramSocket() }, high { dup2(open, FD_SETSIZE) };
    ASSERT_EQ(FD_SETSIZE, high);
    expectSocketError(EBADF, [&] { W::waitReadable(high, 0); });
}

TEST_F(SocketApiWrapperTest, DatagramsTravelWithTheirSourceAndArrivalTime)
{
    ScopedFd receiver { W::createDatagramSocket() }, sender { W::createDatagramSocket() };
    W::bind(receiver, 0);
    // Unresolved: everyone on the segment at port 0, which the system refuses.
    expectSocketError(EINVAL, [&] { W::sendTo(sender, "x", 1, SocketAddress()); });
    // Ephemeral ports lie above 32767: they travel as negative shorts and must arrive intact.
    int port = boundPort(receiver);
    ASSERT_GT(port, 32767);
    EXPECT_EQ(5, W::sendTo(sender, "hello", 5, SocketAddress("127.0.0.1", short(port))));
    char buffer[16] = {};
    SocketAddress from;
    EXPECT_EQ(5, W::recvFrom(receiver, buffer, sizeof(buffer), from));
    EXPECT_STREQ("hello", buffer);
    EXPECT_STREQ("127.0.0.1", from.hostAddress());
    EXPECT_EQ(boundPort(sender), uint16(from.port()));

    const bool stamped = !KOVAN_EMULATED; // the emulator running the ARM build refuses stamps
    if (stamped)
        W::setOption(receiver, SOL_SOCKET, SO_TIMESTAMPNS, 1);
    W::connect(sender, "127.0.0.1", port);
    const time_t before = time(nullptr);
    EXPECT_EQ(3, W::send(sender, "abc", 3));
    sockaddr_in source;
    timespec arrival;
    EXPECT_EQ(3, W::recvFrom(receiver, buffer, sizeof(buffer), &source, &arrival));
    EXPECT_EQ(htons(uint16(boundPort(sender))), source.sin_port);
    EXPECT_LE(stamped ? before : 0, arrival.tv_sec) << "no arrival time";

    // Nothing waiting: a non-blocking receive fails, and an idle wait lasts its whole time-out,
    // seconds included, and then reports nothing to read.
    W::configureBlocking(receiver, false);
    expectSocketError(EAGAIN, [&] { W::recv(receiver, buffer, sizeof(buffer)); });
    auto start = steady_clock::now();
    EXPECT_FALSE(W::waitReadable(receiver, 1000));
    EXPECT_GE(steady_clock::now() - start, milliseconds(1000));
}

TEST_F(SocketApiWrapperTest, StreamConnectsAcceptsAndAGonePeerIsAnException)
{
    ScopedFd listener { W::createStreamSocket() }, client { W::createStreamSocket() };
    W::bind(listener, 0);
    W::listen(listener, 5);
    const int port = boundPort(listener);
    expectSocketError(EDESTADDRREQ, [&] { W::connect(client, SocketAddress()); });
    try {
        W::connect(client, "no-such-host.invalid", port);
        ADD_FAILURE() << "the lookup succeeded";
    } catch (const SocketException& e) {
        EXPECT_TRUE(e.errorCode() == HOST_NOT_FOUND || e.errorCode() == TRY_AGAIN) << e.errorCode();
        EXPECT_STREQ(hstrerror(e.errorCode()), e.message());
    }
    W::connect(client, SocketAddress("127.0.0.1", short(port)));
    SocketAddress peer;
    ScopedFd server { W::accept(listener, peer) };
    EXPECT_STREQ("127.0.0.1", peer.hostAddress());
    EXPECT_EQ(boundPort(client), uint16(peer.port()));
    char pair[2] = {};
    EXPECT_EQ(2, W::send(client, "yz", 2)); // plain data: no out-of-band read
    EXPECT_EQ(1, W::recvFrom(server, pair, 1, peer));
    EXPECT_EQ(1, W::recv(server, pair + 1, 1));
    EXPECT_EQ("yz", std::string(pair, 2));
    close(client.fd);
    client.fd = -1;
    // Writing to a peer that has gone draws its reset, then an exception, never a SIGPIPE.
    expectSocketError(EPIPE, [&] {
        for (int i = 0; i < 100; ++i)
            W::send(server, "x", 1);
    });
}
