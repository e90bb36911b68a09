// SntpModernServer on the private loopback: what it answers and how, its port, its rate limit
// against forged floods and against a fleet of 65,536 client addresses.
#include "sntp/SntpModernServer.h"

#include "support/StderrCapture.h"
#include "support/UdpFrom.h"

#include "sntp/NtpStamp.h"
#include "sntp/SntpClient.h"
#include "sntp/SntpServer.h"
#include "sntp/SntpTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <sys/timex.h>
#include <unistd.h>

using namespace Kovan;
using namespace SntpTest;

using Clock = std::chrono::steady_clock;
using SntpModernServerTest = NetworkTest;

// Every counter, in declaration order, once all `received` are counted.
static std::vector<Kovan::uint64> counters(const SntpModernServer& server, Kovan::uint64 received)
{
    SntpModernServer::Counters c;
    eventually([&] { return (c = server.counters()).received == received; });
    return { c.received, c.answered, c.tooShort, c.notRequest, c.badVersion, c.rateLimited,
        c.kisses, c.sendFailed, c.leaked, c.bytesIn, c.bytesOut };
}

TEST_F(SntpModernServerTest, AnswersOnlyClientRequestsWith48ByteRepliesStampedToTheNanosecond)
{
    SntpModernServer::Options o;
    o.port = 0;
    o.stratum = 1; // the lowest a server may claim
    o.rateLimit = 0; // and no rate table
    o.referenceId = "GPS";
    KovanTest::ClockSeam::setSynchronised(false); // so every reply carries leap 3
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_EQ(0u, server.rateTableBytes());
    EXPECT_EQ(1, server.workers()) << "the default, so replies come in the order of requests";
    const int leap = 3;

    // Silence for each: too short (3), not a client's mode (5), a version outside 1-4 (3).
    const int fd = udpSocket("127.0.0.1", server.port(), true);
    for (const std::string& d : { std::string(), clientRequest(0x23, 1), clientRequest(0x23, 47),
             clientRequest(0x20), clientRequest(0x24), clientRequest(0x25), clientRequest(0x26),
             clientRequest(0x27), clientRequest(0x03), clientRequest(0x2B), clientRequest(0x3B) })
        send(fd, d.data(), d.size(), 0);
    // Versions 1 to 4, some longer: one 48-byte reply each.
    const size_t lengths[] = { 48, 48, 200, 1500 };
    const Kovan::uint64 before = NtpStamp::now();
    for (int v = 1; v <= 4; ++v)
        send(fd, clientRequest(v << 3 | 3, lengths[v - 1], v).data(), lengths[v - 1], 0);
    for (int v = 1; v <= 4; ++v) {
        const std::string reply = receiveWithin(fd, 3000);
        const Kovan::uint64 after = NtpStamp::now();
        ASSERT_EQ(48u, reply.size()) << "version " << v;
        // LI, version and mode; stratum; the request's poll; precision; root delay 0.
        const std::string head = { char(leap << 6 | v << 3 | 4), 1, char(6 + v),
            char(server.precision()), 0, 0, 0, 0 };
        EXPECT_EQ(head, reply.substr(0, 8)) << "version " << v;
        EXPECT_NE(std::string(4, '\0'), reply.substr(8, 4)) << "root dispersion, version " << v;
        EXPECT_EQ(std::string("GPS\0", 4), reply.substr(12, 4)) << "version " << v;
        EXPECT_EQ(clientRequest(0x23, 48, v).substr(40), reply.substr(24, 8)) << "org, " << v;
        const auto stamp = [&](size_t at) { return NtpStamp::fromWire(timeAt(reply, at)); };
        const std::vector<Kovan::uint64> times = { before, stamp(32), stamp(40), after };
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end())) << "rec and xmt, version " << v;
        EXPECT_TRUE(0 < stamp(16) && stamp(16) <= stamp(40)) << "reference time, version " << v;
    }
    EXPECT_EQ("", receiveWithin(fd, 200));
    // Bytes in, each datagram counted up to 48: 0 + 1 + 47, eight non-requests and four requests
    // (13 x 48); out, four replies of 48.
    EXPECT_EQ(
        std::vector<Kovan::uint64>({ 15, 4, 3, 5, 3, 0, 0, 0, 0, 624, 192 }), counters(server, 15));

    // Replies of a burst leave one after another, each stamped with when it is expected to leave:
    // never before its request came in, nor later than it is read here, give or take the most
    // the server may add for the replies ahead of it in one send (8 x 50 us).
    const Kovan::uint64 slack = NtpStamp::fromTimespec({ 0, 400000 }) - NtpStamp::fromTimespec({});
    for (int burst = 0; burst < 3; ++burst) { // the first teaches the server its send time
        const Kovan::uint64 sent = NtpStamp::now();
        for (int i = 0; i < 64; ++i)
            send(fd, clientRequest(0x23, 48, i).data(), 48, 0);
        for (int i = 0; i < 64; ++i) {
            const std::string reply = receiveWithin(fd, 3000);
            const Kovan::uint64 read = NtpStamp::now();
            ASSERT_EQ(48u, reply.size()) << "burst " << burst << ", reply " << i;
            const Kovan::uint64 rec = NtpStamp::fromWire(timeAt(reply, 32));
            const Kovan::uint64 xmt = NtpStamp::fromWire(timeAt(reply, 40));
            EXPECT_TRUE(sent <= rec && rec <= xmt && xmt <= read + slack)
                << "burst " << burst << ", reply " << i;
        }
    }
    close(fd);
    server.stop();
    EXPECT_EQ(0, server.port());
}

TEST_F(SntpModernServerTest, LeapAndDispersionFollowTheKernelsViewOfTheClock)
{
    // The kernel's answer (through the clock seam), whether the server is its own reference, and
    // what a reply then says: its leap indicator and root dispersion (16.16 seconds).
    struct Row {
        bool synchronised;
        int state;
        long errorUs;
        bool localReference;
        int leap;
        Kovan::uint32 dispersion; // 0: the clock's precision, a little above 0
    } const rows[] = {
        { false, TIME_OK, 0, false, 3, 16 << 16 },
        { false, TIME_OK, 0, true, 0, 0 },
        { true, TIME_OK, 500000, false, 0, 0x8000 },
        { true, TIME_OK, 500000, true, 0, 0x8000 },
        { true, TIME_INS, 0, false, 1, 0 },
        { true, TIME_DEL, 0, false, 2, 0 },
        { true, TIME_OOP, 0, false, 0, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "synchronised " << row.synchronised << ", state "
                                        << row.state << ", local " << row.localReference);
        KovanTest::ClockSeam::setSynchronised(row.synchronised, row.errorUs, row.state);
        EXPECT_EQ(row.synchronised, SntpModernServer::clockIsSynchronised());
        SntpModernServer::Options o;
        o.port = 0;
        o.localReference = row.localReference;
        SntpModernServer server(o);
        ASSERT_TRUE(server.start()) << server.error();
        const std::string reply = rawQuery(server.port(), clientRequest(0x23), 3000);
        ASSERT_EQ(48u, reply.size());
        EXPECT_EQ(row.leap, static_cast<unsigned char>(reply[0]) >> 6);
        Kovan::uint32 dispersion = 0;
        memcpy(&dispersion, &reply[8], 4);
        dispersion = ntohl(dispersion);
        if (0 != row.dispersion)
            EXPECT_EQ(row.dispersion, dispersion);
        else
            EXPECT_TRUE(0 < dispersion && dispersion < 0x100) << dispersion;
    }
}

TEST_F(SntpModernServerTest, RefusesBadOptionsAndHoldsItsPortAloneAndLimitsEachClientsRate)
{
    SntpModernServer::Options o;
    const struct {
        int stratum;
        const char *id, *address, *error;
    } bad[] = { { 0, "LOCL", "127.0.0.1", "stratum" }, { 16, "LOCL", "127.0.0.1", "stratum" },
        { 1, "LOCAL", "127.0.0.1", "reference" }, { 15, "LOCL", "no-such-host.invalid", "IPv4" } };
    for (const auto& c : bad) {
        SntpModernServer::Options wrong = o;
        wrong.stratum = static_cast<Kovan::uint8>(c.stratum);
        wrong.referenceId = c.id;
        wrong.address = c.address;
        SntpModernServer refused(wrong);
        EXPECT_FALSE(refused.start()) << c.error;
        EXPECT_NE(std::string::npos, refused.error().find(c.error)) << refused.error();
    }
    // However another socket asks to share (this process is the same user as the server).
    const auto binds = [&](const char* address, int option) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
        if (0 != option)
            setsockopt(fd, SOL_SOCKET, option, &on, sizeof(on));
        sockaddr_in a = loopback(123);
        inet_pton(AF_INET, address, &a.sin_addr);
        const bool bound = 0 == bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        const int error = errno;
        close(fd);
        EXPECT_TRUE(bound || EADDRINUSE == error) << strerror(error);
        return bound;
    };
    { // held by the classic server (SO_REUSEADDR): never taken over, but taken once free
        KovanTest::StderrCapture capture;
        Kovan::SntpServer classic;
        classic.setEnable(true);
        o.workers = 3; // one socket for all
        SntpModernServer modern(o);
        EXPECT_FALSE(modern.start());
        EXPECT_NE(std::string::npos, modern.error().find("held by another")) << modern.error();
        EXPECT_EQ(0, modern.port());
        classic.setEnable(false);
        EXPECT_TRUE(modern.start());
        EXPECT_EQ("", modern.error());
        for (const char* address : { "0.0.0.0", "127.0.0.1" })
            for (int option : { 0, SO_REUSEADDR, SO_REUSEPORT })
                EXPECT_FALSE(binds(address, option)) << address << " option " << option;
        for (int i = 0; i < 30; ++i) // the three workers answer on the one socket
            EXPECT_EQ(48u, rawQuery(123, clientRequest(0x23, 48, i), 3000).size()) << i;
    }
    EXPECT_TRUE(binds("0.0.0.0", SO_REUSEPORT)) << "the port stayed taken";
    o.localReference = true;
    o.rateLimit = 1;
    o.rateBurst = 2;
    o.rateClients = 4; // one set of the table, shared by the two clients below
    o.kissOfDeath = true;
    o.workers = 1; // the datagrams in the order sent
    o.leak = 0; // which of the dropped would leak is left to chance
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    EXPECT_FALSE(SntpModernServer(o).start()) << "took over from another modern server";

    // Of one client's five, two at once pass, the third is kissed (stratum 0, RATE,
    // unsynchronised), the rest are dropped; another client's one in between passes.
    const int fd = udpSocket("127.0.0.1", 123, true), other = udpSocket("127.0.0.2", 0, false);
    const sockaddr_in to = loopback(123);
    ASSERT_EQ(0, connect(other, reinterpret_cast<const sockaddr*>(&to), sizeof(to)));
    for (int i = 0; i < 6; ++i)
        send(4 == i ? other : fd, clientRequest(0x23, 48, i).data(), 48, 0);
    for (int i = 0; i < 3; ++i) {
        const std::string reply = receiveWithin(fd, 3000);
        ASSERT_EQ(48u, reply.size()) << "request " << i;
        EXPECT_EQ(i, reply[31]) << "org of request " << i;
        EXPECT_EQ(i < 2 ? "\x24\x0aLOCL" : std::string("\xE4\0RATE", 6),
            reply.substr(0, 2) + reply.substr(12, 4))
            << "request " << i;
    }
    EXPECT_EQ(48u, receiveWithin(other, 3000).size()) << "the other client was limited";
    EXPECT_EQ("", receiveWithin(fd, 200)) << "a fourth was answered";
    close(fd);
    close(other);
    // Six requests of 48 in, four replies of 48 out (the kiss among them).
    EXPECT_EQ(
        std::vector<Kovan::uint64>({ 6, 3, 0, 0, 0, 2, 1, 0, 0, 288, 192 }), counters(server, 6));
}

TEST_F(SntpModernServerTest, AForgedFloodCannotSilenceTheClientWhoseAddressItBorrows)
{
    SntpModernServer::Options o; // the default limit, burst and leak
    o.port = 0;
    o.localReference = true; // or the strict client refuses it
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    // The forger sends from the client's address at 1000 a second, ten ahead from the start.
    const int forger = udpSocket("127.0.0.1", 0, false);
    const sockaddr_in to = loopback(server.port());
    const std::string forged = clientRequest(0x23);
    SntpClient client;
    client.setStrict(true);
    client.setServerAddress("127.0.0.1");
    client.setPort(server.port());
    client.setTimeout(50);
    KovanTest::StderrCapture capture; // a trace line per unanswered query
    int answered = 0, flood = 0;
    const auto start = Clock::now();
    for (int query = 0; query < 100; ++query) {
        for (const long long due = msSince(start) + 10; flood < due; ++flood)
            sendto(forger, forged.data(), forged.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                sizeof(to));
        SntpServerResponse response;
        answered += client.getServerTime(&response);
    }
    close(forger);
    EXPECT_GE(answered, 10) << "of 100, with " << flood << " forged";
    const SntpModernServer::Counters c = server.counters();
    EXPECT_GT(c.rateLimited, 0u);
    EXPECT_GT(c.leaked, 0u);
    EXPECT_LE(c.bytesOut, c.bytesIn);
    EXPECT_EQ((c.answered + c.kisses) * 48, c.bytesOut);
}

namespace {

// A request from `sender` whose transmit time names it, to come back as the reply's org.
bool sendAs(int fd, uint32_t sender, const sockaddr_in& to)
{
    const uint32_t wire = htonl(sender);
    const std::string r
        = clientRequest(0x23).replace(44, 4, reinterpret_cast<const char*>(&wire), 4);
    return KovanTest::sendFrom(fd, sender, to, r.data(), r.size());
}

} // namespace

TEST_F(SntpModernServerTest, SixtyFiveThousandClientsAreNeverLimitedWhileAnAbuserIs)
{
    // 127.0.0.0/16 polls twice, a round apart, 127.1.0.1 1000 times a second; the table
    // remembers 4096 clients, far fewer than it sees.
    SntpModernServer::Options o;
    o.port = 0;
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    const size_t tableBytes = server.rateTableBytes();
    EXPECT_GT(tableBytes, 0u);
    const int fd = udpSocket("0.0.0.0", 0, false), big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof(big));
    const sockaddr_in to = loopback(server.port());
    const uint32_t FLEET = 0x7F000000, ABUSER = 0x7F010001;
    const int CLIENTS = 65536, ROUNDS = 2, WINDOW = 64;
    std::vector<unsigned char> answers(CLIENTS, 0);
    int abuserSent = 0, abuserAnswered = 0, outstanding = 0, next = 0, idle = 0;
    const auto start = Clock::now();
    // Bounded by count: every request of the fleet once, or two seconds without a reply.
    while ((next < CLIENTS * ROUNDS || outstanding > 0) && idle < 10) {
        for (; abuserSent < msSince(start); ++abuserSent)
            sendAs(fd, ABUSER, to);
        for (; outstanding < WINDOW && next < CLIENTS * ROUNDS; ++next, ++outstanding) {
            const uint32_t sender = FLEET + static_cast<uint32_t>(next % CLIENTS);
            ASSERT_TRUE(sendAs(fd, sender, to)) << strerror(errno);
        }
        std::string reply = receiveWithin(fd, 200);
        idle = reply.empty() ? idle + 1 : 0;
        for (; reply.size() == 48; reply = receiveWithin(fd, 0)) {
            const uint32_t sender = ntohl(SntpTimePacket(timeAt(reply, 24)).fraction);
            if (sender == ABUSER)
                ++abuserAnswered;
            else if ((sender & 0xFFFF0000u) == FLEET && outstanding-- > 0)
                ++answers[sender & 0xFFFF];
        }
    }
    close(fd);
    EXPECT_EQ(CLIENTS, std::count(answers.begin(), answers.end(), ROUNDS))
        << "clients not answered every time; " << outstanding << " outstanding at the end";
    EXPECT_GT(abuserSent, 0);
    EXPECT_LT(abuserAnswered, abuserSent / 2 + 32) << "the abuser was not limited";
    const SntpModernServer::Counters c = server.counters();
    EXPECT_LE(c.rateLimited, static_cast<Kovan::uint64>(abuserSent)) << "a client was limited";
    EXPECT_EQ(tableBytes, server.rateTableBytes());
}

TEST_F(SntpModernServerTest, NewClientsAreNeverLimitedWhileAnAbuserIsAndItsDroppedMayLeak)
{
    // Each new client takes the place of the one seen longest ago in a table of four, so eight
    // asking between an abuser's requests all pass, the abuser keeping its empty bucket. With a
    // leak of one in one, whatever is dropped is answered anyway.
    const uint32_t ABUSER = 0x7F010001;
    for (Kovan::uint32 leak : { 0u, 1u }) {
        SntpModernServer::Options o;
        o.port = 0;
        o.workers = 1;
        o.rateLimit = o.rateBurst = 1;
        o.rateClients = 4;
        o.leak = leak;
        SntpModernServer server(o);
        ASSERT_TRUE(server.start()) << server.error();
        EXPECT_GT(server.rateTableBytes(), 0u);
        const int fd = udpSocket("0.0.0.0", 0, false);
        const sockaddr_in to = loopback(server.port());
        const auto start = Clock::now();
        for (uint32_t client = 0x7F000001; client <= 0x7F000008; ++client)
            for (uint32_t sender : { ABUSER, client })
                ASSERT_TRUE(sendAs(fd, sender, to));
        std::map<uint32_t, int> answers;
        for (std::string r; (r = receiveWithin(fd, answers.size() < 9 ? 3000 : 300)).size() == 48;)
            ++answers[ntohl(SntpTimePacket(timeAt(r, 24)).fraction)];
        close(fd);
        // A token a second comes back: a slow machine may see the abuser answered again.
        const int abuser = answers[ABUSER], slack = 1 + static_cast<int>(msSince(start) / 1000);
        EXPECT_EQ(9u, answers.size()) << "a client went unanswered";
        EXPECT_TRUE(leak != 0 ? 8 == abuser : abuser >= 1 && abuser <= 1 + slack) << abuser;
        const SntpModernServer::Counters c = server.counters();
        EXPECT_EQ(16u, c.received);
        EXPECT_EQ(leak != 0 ? 0u : 8u - static_cast<Kovan::uint64>(abuser), c.rateLimited);
        EXPECT_TRUE(leak != 0 ? c.leaked + slack >= 7 : 0 == c.leaked) << c.leaked;
        EXPECT_EQ(static_cast<Kovan::uint64>(8 + abuser), c.answered);
    }
}

TEST_F(SntpModernServerTest, AClientsBucketRefillsAsTimePasses)
{
    SntpModernServer::Options o;
    o.port = 0;
    o.rateLimit = 1000; // a token a millisecond, at most one held
    o.rateBurst = 1;
    o.leak = 0;
    SntpModernServer server(o);
    ASSERT_TRUE(server.start()) << server.error();
    for (int i = 0; i < 3; ++i) { // the time passing refills it, on a clock of coarse steps
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(48u, rawQuery(server.port(), clientRequest(0x23), 3000).size()) << i;
    }
}
