#include "net/DatagramBatch.h"

#include "tests/net/NetTestSupport.h"

#include <malloc.h>

class DatagramBatchTest : public NetTest { };

static std::string text(const void* p, int n) { return { static_cast<const char*>(p), size_t(n) }; }

TEST_F(DatagramBatchTest, TakesWhatIsQueuedAtOnceAndAnswersEachSender)
{
    ScopedFd server { W::createDatagramSocket() }, a { W::createDatagramSocket() },
        b { W::createDatagramSocket() };
    W::bind(server, 0);
    const int on = 1;
    const bool stamped = 0 == setsockopt(server, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    detail::setSocketTimeouts(server, 300);
    mallopt(M_PERTURB, 0xA5); // its headers start from garbage unless it clears them
    DatagramBatch batch(4, 8);
    mallopt(M_PERTURB, 0);
    const auto start = steady_clock::now();
    EXPECT_EQ(0, batch.receive(server)) << "nothing came within the time-out";
    EXPECT_GE(steady_clock::now() - start, milliseconds(300));

    const sockaddr_in to
        = detail::makeInet4Address(inet_addr("127.0.0.1"), uint16(boundPort(server)));
    W::sendTo(a, "one", 3, to);
    W::sendTo(b, "twelve bytes", 12, to);
    W::sendTo(a, "3", 1, to);
    ASSERT_EQ(3, batch.receive(server));
    EXPECT_EQ(3, batch.size());
    EXPECT_EQ("one", text(batch.data(0), batch.length(0)));
    EXPECT_EQ("twelve b", text(batch.data(1), 8)) << "cut to the slot";
    EXPECT_EQ("3", text(batch.data(2), batch.length(2)));
    EXPECT_EQ(htons(uint16(boundPort(b))), batch.peer(1).sin_port);
    EXPECT_TRUE(!stamped || batch.arrival(2).tv_sec > 0) << "no arrival time";

    // One reply per datagram, in the order asked for; asking again resizes the same room.
    memcpy(batch.reply(2, 2), "r2", 2);
    memcpy(batch.reply(0, 8), "r0", 2);
    EXPECT_EQ(batch.reply(0, 1), batch.reply(0, 1));
    EXPECT_EQ(batch.reply(2, 2), batch.reply(2, 2));
    EXPECT_EQ(2, batch.replies());
    EXPECT_EQ(1, batch.sendReplies(server, 1, 1));
    EXPECT_EQ(1, batch.sendReplies(server, 0, 1));
    char in[16];
    EXPECT_EQ("r", text(in, W::recv(a, in, sizeof(in))));
    EXPECT_EQ("r2", text(in, W::recv(a, in, sizeof(in))));
    W::configureBlocking(b, false);
    expectSocketError(EAGAIN, [&] { W::recv(b, in, sizeof(in)); });
    // Without waiting, only what is queued: no time-out here, a receive that waited would hang.
    ScopedFd idle { W::createDatagramSocket() };
    W::bind(idle, 0);
    const sockaddr_in there
        = detail::makeInet4Address(inet_addr("127.0.0.1"), uint16(boundPort(idle)));
    EXPECT_EQ(0, batch.receive(idle, false));
    W::sendTo(a, "a", 1, there);
    W::sendTo(a, "b", 1, there);
    ASSERT_EQ(2, batch.receive(idle, false));
    EXPECT_EQ("b", text(batch.data(1), batch.length(1)));
    EXPECT_EQ(0, batch.receive(idle, false));
    // Room for one datagram of one byte at the least.
    DatagramBatch tiny(0, 0);
    W::sendTo(a, "xy", 2, to);
    W::sendTo(a, "z", 1, to);
    ASSERT_EQ(1, tiny.receive(server));
    EXPECT_EQ("x", text(tiny.data(0), tiny.length(0)));
}
