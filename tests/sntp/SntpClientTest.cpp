// SntpClient against a scripted server on loopback, the clock seam standing in for the clock:
// one query (the request, the four timestamps, every unusable reply) and the sync on the test's
// thread and the client's own (step or slew, rejections, listener codes, retries, stopSync).
#include "sntp/SntpClient.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/NtpStamp.h"

#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>

using Kovan::SntpClient;
using Kovan::SntpTime;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using SntpTest::ScriptedServer;

namespace {

const time_t NOW = 1700000000;

// Outcomes as "ok N" / "failed N", in order; each must be told while the sync is still running.
class RecordingListener : public SntpClient::Listener {
public:
    void sntpSyncSucceeded(SntpClient* c, Kovan::int32 code) override { add(c, "ok ", code); }
    void sntpSyncFailed(SntpClient* c, Kovan::int32 code) override { add(c, "failed ", code); }
    std::vector<std::string> outcomes()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _outcomes;
    }
    std::string last()
    {
        const std::vector<std::string> all = outcomes();
        return all.empty() ? "none" : all.back();
    }
    std::atomic<bool> sawSyncing { true };

private:
    void add(SntpClient* client, const char* what, Kovan::int32 code)
    {
        sawSyncing = sawSyncing && client->isSyncing();
        std::lock_guard<std::mutex> lock(_mutex);
        _outcomes.push_back(what + std::to_string(code));
    }
    std::mutex _mutex;
    std::vector<std::string> _outcomes;
};

class SntpClientTest : public SntpTest::NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        _descriptors = SntpTest::openDescriptors();
        ClockSeam::setNow({ NOW, 0 });
        _client.setListener(&_listener);
        _client.setPort(static_cast<Kovan::uint32>(_server.port()));
        _client.setTimeout(300);
        _client.setSleepTime(20);
    }
    void TearDown() override
    {
        _client.quit();
        _client.join();
        NetworkTest::TearDown();
        EXPECT_EQ(_descriptors, SntpTest::openDescriptors()) << "a socket leaked";
    }

    // One query to 127.0.0.1:`port`; `traced` gets its trace lines.
    bool query(int port, std::string* traced = nullptr)
    {
        _client.setServerAddress("127.0.0.1");
        _client.setPort(static_cast<Kovan::uint32>(port));
        KovanTest::StderrCapture capture;
        const bool ok = _client.getServerTime(&_response);
        if (traced)
            *traced = capture.take();
        return ok;
    }

    // One sync on the test's thread against 127.0.0.1, the server `shift` seconds ahead; returns
    // its trace lines.
    std::string sync(double shift, Kovan::uint32 retries = 1)
    {
        _client.setServerAddress("127.0.0.1");
        _shift = shift;
        KovanTest::StderrCapture capture;
        _client.syncNow(retries);
        return capture.take();
    }

    // The server runs `_shift` ahead of the request's transmit time and the test's clock stands
    // still, so the offset is exactly the shift; silent while `_silentRequests` is above zero.
    std::atomic<double> _shift { 0.0 };
    std::atomic<int> _silentRequests { 0 };
    ScriptedServer _server { [this](const std::string& request) -> std::optional<std::string> {
        if (_silentRequests-- > 0)
            return std::nullopt;
        const SntpTime serverTime = SntpTest::timeAt(request, 40) + _shift.load();
        return ScriptedServer::reply(request, serverTime, serverTime, 4);
    } };
    RecordingListener _listener;
    SntpClient _client;
    Kovan::SntpServerResponse _response;
    int _descriptors = 0;
};

} // namespace

TEST_F(SntpClientTest, RequestAndTheFourTimestampFormulas)
{
    // The client's clock stands still (T4 = T1); the server's runs `shift` ahead (T2 = T1 +
    // shift) and holds the request a quarter of a second (T3 = T2 + 0.25).
    std::string request;
    for (double shift : { 3600.0, -7.75, -86400.5, 1.0e6 + 0.125 }) {
        ScriptedServer server([&request, shift](const std::string& bytes) {
            request = bytes;
            const SntpTime rec = SntpTest::timeAt(bytes, 40) + shift;
            return ScriptedServer::reply(bytes, rec, rec + 0.25, 3, 2);
        });
        ASSERT_TRUE(query(server.port())) << shift;
        const Kovan::SntpServerResponse& r = _response;
        EXPECT_EQ((r.desTime - r.oriTime) - (r.xmtTime - r.recTime), r.delay) << shift;
        EXPECT_EQ(((r.recTime - r.oriTime) + (r.xmtTime - r.desTime)) / 2, r.offset) << shift;
        EXPECT_NEAR(-0.25, r.delay, 1e-9) << shift;
        EXPECT_NEAR(shift + 0.125, r.offset, 1e-9) << shift;
        EXPECT_EQ(3, r.stratum);
        EXPECT_EQ(2, r.leapIndicator);
    }
    // A client request stamped with the client's clock, which came back as T1.
    ASSERT_EQ(48u, request.size());
    EXPECT_EQ("\x1B" + std::string(39, '\0'), request.substr(0, 40));
    EXPECT_EQ(SntpTime::currentTime(), SntpTest::timeAt(request, 40));
    EXPECT_EQ(SntpTime::currentTime(), _response.oriTime);
    EXPECT_EQ(SntpTime::currentTime(), _response.desTime);
}

TEST_F(SntpClientTest, ShortOrGarbageRepliesAreReadAsTheirBytesSay)
{
    // Two bytes: the missing ones read as zero.
    ScriptedServer twoBytes([](const std::string&) { return std::string("\xE4\x05"); });
    ASSERT_TRUE(query(twoBytes.port()));
    EXPECT_EQ(3, _response.leapIndicator);
    EXPECT_EQ(5, _response.stratum);
    EXPECT_EQ(0u, _response.oriTime.time() | _response.recTime.time() | _response.xmtTime.time());

    // Noise longer than a full packet: T1 too is what the reply says.
    std::string reply(82, '\0');
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>(i * 37 + 11);
    ScriptedServer noise([reply](const std::string&) { return reply; });
    ASSERT_TRUE(query(noise.port()));
    EXPECT_EQ((static_cast<unsigned char>(reply[0]) & 0xC0) >> 6, _response.leapIndicator);
    EXPECT_EQ(static_cast<unsigned char>(reply[1]), _response.stratum);
    EXPECT_EQ(SntpTest::timeAt(reply, 24), _response.oriTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 32), _response.recTime);
    EXPECT_EQ(SntpTest::timeAt(reply, 40), _response.xmtTime);
}

TEST_F(SntpClientTest, SilentEmptyAndRefusedRepliesFail)
{
    // A limit of whole seconds and milliseconds, waited in full.
    _client.setTimeout(1250);
    std::string traced;
    ScriptedServer silent([](const std::string&) { return std::nullopt; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(query(silent.port(), &traced));
    EXPECT_EQ("SntpClient : unable to wait for NTP reply from server\n", traced);
    EXPECT_GE(SntpTest::msSince(start), 1240);
    EXPECT_LT(SntpTest::msSince(start), 3000);
    EXPECT_EQ(1, silent.requests());

    // An empty datagram reads as nothing; so does the refusal of a port nobody serves, which
    // comes back at once.
    ScriptedServer empty([](const std::string&) { return std::string(); });
    for (int port : { empty.port(), 9 }) {
        EXPECT_FALSE(query(port, &traced));
        EXPECT_EQ("SntpClient : unable to read reply from the SNTP server\n", traced);
    }
}

TEST_F(SntpClientTest, NamesAndNumericLiteralsAreResolvedAndUnknownNamesFailSilently)
{
    // Seventeen characters that name 127.0.0.1.
    for (const char* address : { "localhost", "0x7f.0x0.0x0.0x01", "no-such-host.invalid" }) {
        _client.setServerAddress(address);
        KovanTest::StderrCapture capture;
        EXPECT_EQ('n' != address[0], _client.getServerTime(&_response)) << address;
        EXPECT_EQ("", capture.take());
    }
    EXPECT_EQ(2, _server.requests());
}

TEST_F(SntpClientTest, UnderAMinuteSlewsAndAMinuteOrMoreSteps)
{
    const std::pair<double, const char*> cases[] = { { 59.0, "ok 3" }, { -59.0, "ok 2" },
        { 60.0, "ok 1" }, { -60.0, "ok 0" }, { 86400.5, "ok 1" } };
    for (const auto& [shift, outcome] : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 0 });
        const std::string traced = sync(shift);
        EXPECT_EQ(outcome, _listener.last()) << shift;
        const std::vector<ClockCall> calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << shift;
        const bool slew = std::fabs(shift) < 60;
        const long whole = static_cast<long>(shift);
        EXPECT_EQ(slew ? ClockCall::ADJTIME : ClockCall::SETTIMEOFDAY, calls[0].kind) << shift;
        EXPECT_EQ(slew ? whole : NOW + whole, calls[0].tv.tv_sec);
        EXPECT_EQ(shift == 86400.5 ? 500000 : 0, calls[0].tv.tv_usec);
        const std::string tv = std::to_string(whole) + ", 0\n";
        EXPECT_EQ("SntpClient : connect to \"127.0.0.1\" on port " + std::to_string(_server.port())
                + "\nSntpTime : current=" + std::to_string(NOW)
                + ", newtime=" + std::to_string(NOW + whole) + "!\n"
                + (slew ? "Sntp::adjustCurrentTime Called! tv: " + tv
                            + "adjtime success! syncronizing time to : " + tv + "SntpClient(adj)"
                        : std::string("SntpClient"))
                + " : time was synchronised successfully\n",
            traced)
            << shift;
    }
    EXPECT_TRUE(_listener.sawSyncing);
    EXPECT_FALSE(_client.isSyncing());

    // Without the option, a change within the minute steps too.
    ClockSeam::reset();
    ClockSeam::setNow({ NOW, 0 });
    _client.setAdjustForSameMinute(false);
    sync(5.0);
    EXPECT_EQ("ok 1", _listener.last());
    EXPECT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
}

TEST_F(SntpClientTest, InvalidNewTimesAndSetterFailuresAreReported)
{
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    // A new time in the last half millisecond of a second converts to tv_usec 1000000; beyond
    // 2038 the seconds are negative as a signed 32-bit number. Neither reaches the clock.
    const struct {
        suseconds_t usec;
        double shift;
        const char *outcome, *line;
        size_t calls;
    } cases[] = {
        { 999600, 0.0, "failed 1", "SntpClient : new time is invalid\n", 0 },
        { 0, 2147483648.0 - NOW + 10, "failed 1", "SntpClient : new time is invalid\n", 0 },
        { 0, 120.0, "failed 2", "SntpClient : failed to set the local time\n", 1 },
        { 0, 2.0, "failed 2", "SntpClient(adj) : failed to set the local time\n", 2 },
    };
    for (const auto& c : cases) {
        ClockSeam::setNow({ NOW, c.usec });
        const std::string traced = sync(c.shift);
        EXPECT_EQ(c.outcome, _listener.last()) << c.shift;
        EXPECT_NE(std::string::npos, traced.find(c.line)) << traced;
        EXPECT_EQ(c.calls, ClockSeam::calls().size()) << c.shift;
    }
}

TEST_F(SntpClientTest, RetriesUntilAReplyAndGivesUpAfterTheCount)
{
    _silentRequests = 2;
    sync(100.0, 3);
    EXPECT_EQ("ok 1", _listener.last());
    EXPECT_EQ(3, _server.requests());

    _silentRequests = 3;
    sync(100.0, 3);
    EXPECT_EQ("failed 0", _listener.last());
    EXPECT_EQ(6, _server.requests());
    EXPECT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY)) << "only the first sync set it";

    // No attempts at all: fails at once without sending.
    sync(100.0, 0);
    EXPECT_EQ(6, _server.requests());
    EXPECT_EQ(std::vector<std::string>({ "ok 1", "failed 0", "failed 0" }), _listener.outcomes());
}

TEST_F(SntpClientTest, BackgroundSyncRunsAtOnceWhenGivenAddressAndInterval)
{
    ASSERT_TRUE(_client.run());
    _shift = 3600.0;
    KovanTest::StderrCapture capture;
    // No address yet: the looper suspends itself until one comes.
    _client.setSyncInterval(1);
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(SntpTest::eventually([&] { return "ok 1" == _listener.last(); }));
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 3600, ClockSeam::calls()[0].tv.tv_sec);

    // The same address again changes nothing; clearing it parks the looper.
    _client.setServerAddress("127.0.0.1");
    _client.setServerAddress("");
    EXPECT_TRUE(SntpTest::eventually([&] { return _client.isSuspend(); }));
    EXPECT_NE(std::string::npos, capture.take().find("SntpClient is suspended...\n"));
    EXPECT_EQ(1, _server.requests());

    // A new address wakes it for an immediate sync.
    _client.setServerAddress("localhost");
    ASSERT_TRUE(SntpTest::eventually([&] { return 2u == _listener.outcomes().size(); }));
    EXPECT_EQ("ok 1", _listener.last());
    EXPECT_EQ(2, _server.requests());
}

TEST_F(SntpClientTest, StopSyncEndsAFailingBackgroundSyncAfterTheAttemptInProgress)
{
    _silentRequests = 1000;
    _client.setRetryCount(1000);
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(_client.run());
    _client.setSyncInterval(1);
    ASSERT_TRUE(SntpTest::eventually([&] { return _server.requests() >= 2; }));

    const auto start = std::chrono::steady_clock::now();
    _client.stopSync();
    EXPECT_LT(SntpTest::msSince(start), 1000) << "one 300 ms attempt and one 200 ms poll at most";
    // The outcome was told before the sync stopped.
    EXPECT_FALSE(_client.isSyncing());
    EXPECT_EQ(std::vector<std::string>({ "failed 0" }), _listener.outcomes());
    EXPECT_LT(_server.requests(), 10);
    EXPECT_TRUE(ClockSeam::calls().empty());
}

TEST_F(SntpClientTest, StrictModeSkipsEveryBadReplyAndTakesTheValidOneThatFollows)
{
    // Each bad kind arrives before a valid reply from a server 5 s ahead; a kiss-o'-death that
    // echoes the request ends the query, one that does not is only one more bad reply.
    using Edit = std::function<void(std::string&)>;
    const auto byte = [](size_t at, char value) { return [=](std::string& r) { r[at] = value; }; };
    const std::pair<const char*, Edit> bad[] = {
        { "one byte", [](std::string& r) { r.resize(1); } },
        { "47 bytes", [](std::string& r) { r.resize(47); } },
        { "all zero", [](std::string& r) { r.assign(48, '\0'); } },
        { "mode 3", byte(0, 0x1B) },
        { "version 0", byte(0, 0x04) },
        { "version 5", byte(0, 0x2C) },
        { "stratum 16", byte(1, 16) },
        { "leap 3", byte(0, '\xDC') },
        { "transmit 0", [](std::string& r) { r.replace(40, 8, 8, '\0'); } },
        { "org off by 2^-32 s", [](std::string& r) { r[31] = static_cast<char>(r[31] ^ 1); } },
        { "forged kiss", [](std::string& r) { r[1] = 0, r[31] = static_cast<char>(r[31] ^ 1); } },
    };
    _client.setStrict(true);
    _client.setServerAddress("127.0.0.1");
    for (const auto& [name, edit] : bad) {
        std::string request;
        ScriptedServer server(ScriptedServer::Burst([&](const std::string& bytes) {
            request = bytes;
            const SntpTime t = SntpTest::timeAt(bytes, 40) + 5.0;
            std::string wrong = ScriptedServer::reply(bytes, t, t);
            edit(wrong);
            return std::vector<std::string> { wrong, ScriptedServer::reply(bytes, t, t, 3) };
        }));
        Kovan::SntpQueryReport report;
        _client.setPort(static_cast<Kovan::uint32>(server.port()));
        ASSERT_TRUE(_client.getServerTime(&_response, &report)) << name;
        EXPECT_EQ(Kovan::SntpQueryReport::ANSWERED, report.outcome) << name;
        EXPECT_EQ(1u, report.rejected) << name;
        EXPECT_EQ(3, _response.stratum) << name;
        EXPECT_NEAR(5.0, _response.offset, 0.05) << name;
        // Version 4, mode 3, and a transmit time of the real clock, not the seam's.
        EXPECT_EQ('\x23', request[0]);
        EXPECT_NEAR(0.0,
            Kovan::NtpStamp::difference(
                Kovan::NtpStamp::now(), SntpTest::timeAt(request, 40).time()),
            2.0);
    }

    // Nothing but bad replies: the whole wait, then a failure that says so; a kiss that echoes
    // the request: at once, with its code.
    ScriptedServer liar(ScriptedServer::Burst([](const std::string& bytes) {
        const SntpTime t = SntpTest::timeAt(bytes, 40);
        return std::vector<std::string> { "x", ScriptedServer::reply(bytes, t, t, 16) };
    }));
    ScriptedServer kiss(ScriptedServer::Burst([](const std::string& bytes) {
        std::string r = ScriptedServer::reply(bytes, SntpTime(), SntpTime(), 0, 3);
        r.replace(12, 4, "RATE");
        return std::vector<std::string> { r };
    }));
    Kovan::SntpQueryReport report;
    const auto timed = [&](const ScriptedServer& server) {
        _client.setPort(static_cast<Kovan::uint32>(server.port()));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(_client.getServerTime(&_response, &report));
        return SntpTest::msSince(start);
    };
    EXPECT_GE(timed(liar), 290);
    EXPECT_EQ(Kovan::SntpQueryReport::TIMED_OUT, report.outcome);
    EXPECT_EQ(2u, report.rejected);
    EXPECT_LT(timed(kiss), 290);
    EXPECT_EQ(Kovan::SntpQueryReport::KISS_OF_DEATH, report.outcome);
    EXPECT_STREQ("RATE", report.kissCode);

    // A strict sync slews by exactly the offset, where the classic one aims at a whole second.
    _client.setPort(static_cast<Kovan::uint32>(_server.port()));
    sync(2.5);
    EXPECT_EQ("ok 3", _listener.last());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
    const timeval slew = ClockSeam::calls()[0].tv;
    EXPECT_NEAR(2.5, static_cast<double>(slew.tv_sec) + slew.tv_usec * 1e-6, 0.01);
    ClockSeam::reset();

    // A strict background sync told only lies never touches the clock; its listener hears it.
    _client.setServerAddress("127.0.0.1");
    _client.setPort(static_cast<Kovan::uint32>(liar.port()));
    _client.syncNow(2);
    EXPECT_EQ("failed 0", _listener.last());
    EXPECT_TRUE(ClockSeam::calls().empty());
}
