// SntpClient against a scripted server on loopback, the clock seam standing in for the clock: one
// query (the request, the timestamps, unusable replies, a failed send) and the sync on the test's
// thread and the client's own (step or slew, rejections, listener codes, retries, stopSync).
#include "sntp/SntpClient.h"

#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "net/SocketException.h"
#include "sntp/NtpStamp.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <mutex>

using Kovan::SntpClient;
using Kovan::SntpQueryReport;
using Kovan::SntpTime;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using SntpTest::ScriptedServer;
using Replies = std::vector<std::string>;

namespace {

const time_t NOW = 1700000000;
using Clock = std::chrono::steady_clock;

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
    long long msSinceLast()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return SntpTest::msSince(_lastAt);
    }
    std::atomic<bool> sawSyncing { true };

private:
    void add(SntpClient* client, const char* what, Kovan::int32 code)
    {
        sawSyncing = sawSyncing && client->isSyncing();
        std::lock_guard<std::mutex> lock(_mutex);
        _outcomes.push_back(what + std::to_string(code));
        _lastAt = Clock::now();
    }
    std::mutex _mutex;
    std::vector<std::string> _outcomes;
    Clock::time_point _lastAt;
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
        const bool ok = _client.getServerTime(&_response, &_report);
        if (traced)
            *traced = capture.take();
        return ok;
    }

    // One sync on the test's thread against 127.0.0.1, the server `shift` seconds ahead; returns
    // how many trace lines it wrote.
    long sync(double shift, Kovan::uint32 retries = 1)
    {
        _client.setServerAddress("127.0.0.1");
        _shift = shift;
        KovanTest::StderrCapture capture;
        _client.syncNow(retries);
        const std::string traced = capture.take();
        return std::count(traced.begin(), traced.end(), '\n');
    }

    // The server runs `_shift` ahead of the request's transmit time and the test's clock stands
    // still, so the offset is exactly the shift; silent while `_silentRequests` is above zero.
    std::atomic<double> _shift { 0.0 };
    std::atomic<int> _silentRequests { 0 };
    ScriptedServer _server { [this](const std::string& request) {
        if (_silentRequests-- > 0)
            return Replies();
        const SntpTime serverTime = SntpTest::timeAt(request, 40) + _shift.load();
        return Replies { ScriptedServer::reply(request, serverTime, serverTime, 4) };
    } };
    RecordingListener _listener;
    SntpClient _client;
    Kovan::SntpServerResponse _response;
    SntpQueryReport _report;
    int _descriptors = 0;
};

} // namespace

TEST_F(SntpClientTest, RequestAndTheFourTimestamps)
{
    // The client's clock stands still (T4 = T1); the server's runs `shift` ahead (T2 = T1 +
    // shift) and holds the request a quarter of a second (T3 = T2 + 0.25).
    std::string request;
    for (double shift : { 3600.0, -86400.5 }) {
        ScriptedServer server([&request, shift](const std::string& bytes) {
            request = bytes;
            const SntpTime rec = SntpTest::timeAt(bytes, 40) + shift;
            return Replies { ScriptedServer::reply(bytes, rec, rec + 0.25, 3, 2) };
        });
        ASSERT_TRUE(query(server.port())) << shift;
        EXPECT_NEAR(-0.25, _response.delay, 1e-9) << shift;
        EXPECT_NEAR(shift + 0.125, _response.offset, 1e-9) << shift;
        EXPECT_EQ(3, _response.stratum);
        EXPECT_EQ(2, _response.leapIndicator);
        EXPECT_EQ(SntpQueryReport::ANSWERED, _report.outcome);
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
    std::string noise(82, '\0'); // longer than a full packet: T1 too is what the reply says
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 37 + 11);
    // Two bytes: the missing ones read as zero.
    for (const std::string& reply : { std::string("\xE4\x05"), noise }) {
        ScriptedServer server([reply](const std::string&) { return Replies { reply }; });
        ASSERT_TRUE(query(server.port()));
        const std::string full = reply + std::string(48, '\0');
        EXPECT_EQ((static_cast<unsigned char>(full[0]) & 0xC0) >> 6, _response.leapIndicator);
        EXPECT_EQ(static_cast<unsigned char>(full[1]), _response.stratum);
        EXPECT_EQ(SntpTest::timeAt(full, 24), _response.oriTime);
        EXPECT_EQ(SntpTest::timeAt(full, 32), _response.recTime);
        EXPECT_EQ(SntpTest::timeAt(full, 40), _response.xmtTime);
    }
}

TEST_F(SntpClientTest, SilentEmptyAndRefusedRepliesFail)
{
    // A limit of whole seconds and milliseconds, waited in full.
    _client.setTimeout(1250);
    std::string traced;
    ScriptedServer silent([](const std::string&) { return Replies(); });
    const auto start = Clock::now();
    EXPECT_FALSE(query(silent.port(), &traced));
    EXPECT_GE(SntpTest::msSince(start), 1240);
    EXPECT_LT(SntpTest::msSince(start), 3000);
    EXPECT_EQ(SntpQueryReport::TIMED_OUT, _report.outcome);
    EXPECT_NE("", traced);
    EXPECT_EQ(1, silent.requests());

    // An empty datagram reads as nothing; so does the refusal of a port nobody serves, which
    // comes back at once.
    ScriptedServer empty([](const std::string&) { return Replies { "" }; });
    for (int port : { empty.port(), 9 }) {
        EXPECT_FALSE(query(port, &traced));
        EXPECT_EQ(SntpQueryReport::FAILED, _report.outcome) << port;
        EXPECT_NE("", traced) << port;
    }
}

TEST_F(SntpClientTest, AFailedSendReachesTheCallerWithTheSocketClosed)
{
    for (bool strict : { false, true }) {
        _client.setStrict(strict);
        SntpTest::failNextSend(EPERM);
        EXPECT_THROW(query(_server.port()), Kovan::SocketException) << "strict " << strict;
        EXPECT_EQ(_descriptors, SntpTest::openDescriptors()) << "socket leaked, strict " << strict;
    }
    EXPECT_EQ(0, _server.requests());
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
    const struct {
        double shift;
        const char* outcome;
        ClockCall::Kind kind;
        timeval tv; // the correction, or the new time
        bool slewUnderAMinute;
    } cases[] = {
        { 59.0, "ok 3", ClockCall::ADJTIME, { 59, 0 }, true },
        { -59.0, "ok 2", ClockCall::ADJTIME, { -59, 0 }, true },
        { 60.0, "ok 1", ClockCall::SETTIMEOFDAY, { NOW + 60, 0 }, true },
        { -60.0, "ok 0", ClockCall::SETTIMEOFDAY, { NOW - 60, 0 }, true },
        { 86400.5, "ok 1", ClockCall::SETTIMEOFDAY, { NOW + 86400, 500000 }, true },
        { 5.0, "ok 1", ClockCall::SETTIMEOFDAY, { NOW + 5, 0 }, false },
    };
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 0 });
        _client.setAdjustForSameMinute(c.slewUnderAMinute);
        // The address and the times, then the slew's own two lines, then the outcome.
        EXPECT_EQ(ClockCall::ADJTIME == c.kind ? 5 : 3, sync(c.shift)) << c.shift;
        EXPECT_EQ(c.outcome, _listener.last()) << c.shift;
        const std::vector<ClockCall> calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << c.shift;
        EXPECT_EQ(c.kind, calls[0].kind) << c.shift;
        EXPECT_EQ(c.tv.tv_sec, calls[0].tv.tv_sec) << c.shift;
        EXPECT_EQ(c.tv.tv_usec, calls[0].tv.tv_usec) << c.shift;
    }
    EXPECT_TRUE(_listener.sawSyncing);
    EXPECT_FALSE(_client.isSyncing());
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
        const char* outcome;
        size_t calls; // so far
    } cases[] = {
        { 999600, 0.0, "failed 1", 0 },
        { 0, 2147483648.0 - NOW + 10, "failed 1", 0 },
        { 0, 120.0, "failed 2", 1 },
        { 0, 2.0, "failed 2", 2 },
    };
    for (const auto& c : cases) {
        ClockSeam::setNow({ NOW, c.usec });
        sync(c.shift);
        EXPECT_EQ(c.outcome, _listener.last()) << c.shift;
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
    _client.setSleepTime(600);
    _shift = 3600.0;
    KovanTest::StderrCapture capture;
    // No address yet: the looper suspends itself until one comes. A failed send is a sync
    // without a reply, and the looper goes on.
    _client.setSyncInterval(1);
    SntpTest::failNextSend(EPERM);
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(SntpTest::eventually([&] { return "failed 0" == _listener.last(); }));

    // The same address again changes nothing; clearing it parks the looper after its pause.
    _client.setServerAddress("127.0.0.1");
    _client.setServerAddress("");
    EXPECT_TRUE(SntpTest::eventually([&] { return _client.isSuspend(); }));
    EXPECT_GE(_listener.msSinceLast(), 600) << "the looper did not pause after its pass";
    EXPECT_EQ(0, _server.requests());
    EXPECT_FALSE(_client.isSyncing());

    // A new address wakes it for an immediate sync.
    _client.setServerAddress("localhost");
    ASSERT_TRUE(SntpTest::eventually([&] { return "ok 1" == _listener.last(); }));
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 3600, ClockSeam::calls()[0].tv.tv_sec);
    EXPECT_EQ(1, _server.requests());
}

TEST_F(SntpClientTest, StopSyncEndsAFailingBackgroundSyncAfterTheAttemptInProgress)
{
    _silentRequests = 1000;
    _client.setRetryCount(1000);
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(_client.run());
    _client.setSyncInterval(1);
    ASSERT_TRUE(SntpTest::eventually([&] { return _server.requests() >= 2; }));

    const auto start = Clock::now();
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
    const auto flipOrg = [](std::string& r) { r[31] = static_cast<char>(r[31] ^ 1); };
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
        { "org off by 2^-32 s", flipOrg },
        { "forged kiss", [&](std::string& r) { r[1] = 0, flipOrg(r); } },
    };
    _client.setStrict(true);
    for (const auto& [name, edit] : bad) {
        std::string request;
        ScriptedServer server([&request, &edit = edit](const std::string& bytes) {
            request = bytes;
            const SntpTime t = SntpTest::timeAt(bytes, 40) + 5.0;
            std::string wrong = ScriptedServer::reply(bytes, t, t);
            edit(wrong);
            return Replies { wrong, ScriptedServer::reply(bytes, t, t, 3) };
        });
        ASSERT_TRUE(query(server.port())) << name;
        EXPECT_EQ(SntpQueryReport::ANSWERED, _report.outcome) << name;
        EXPECT_EQ(1u, _report.rejected) << name;
        EXPECT_EQ(3, _response.stratum) << name;
        EXPECT_NEAR(5.0, _response.offset, 0.05) << name;
        // Version 4, mode 3, and a transmit time of the real clock, not the seam's.
        EXPECT_EQ('\x23', request[0]);
        const Kovan::uint64 sent = SntpTest::timeAt(request, 40).time();
        EXPECT_NEAR(0.0, Kovan::NtpStamp::difference(Kovan::NtpStamp::now(), sent), 2.0);
    }

    // Nothing but bad replies: the whole wait, then a failure that says so; a kiss that echoes
    // the request: at once, with its code.
    ScriptedServer liar([](const std::string& bytes) {
        const SntpTime t = SntpTest::timeAt(bytes, 40);
        return Replies { "x", ScriptedServer::reply(bytes, t, t, 16) };
    });
    ScriptedServer kiss([](const std::string& bytes) {
        std::string r = ScriptedServer::reply(bytes, SntpTime(), SntpTime(), 0, 3);
        return Replies { r.replace(12, 4, "RATE") };
    });
    auto start = Clock::now();
    EXPECT_FALSE(query(liar.port()));
    EXPECT_GE(SntpTest::msSince(start), 290);
    EXPECT_EQ(SntpQueryReport::TIMED_OUT, _report.outcome);
    EXPECT_EQ(2u, _report.rejected);
    start = Clock::now();
    EXPECT_FALSE(query(kiss.port()));
    EXPECT_LT(SntpTest::msSince(start), 290);
    EXPECT_EQ(SntpQueryReport::KISS_OF_DEATH, _report.outcome);
    EXPECT_STREQ("RATE", _report.kissCode);

    // A strict sync slews by exactly the offset, where the classic one aims at a whole second.
    _client.setPort(static_cast<Kovan::uint32>(_server.port()));
    sync(2.5);
    EXPECT_EQ("ok 3", _listener.last());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
    const timeval slew = ClockSeam::calls()[0].tv;
    EXPECT_NEAR(2.5, static_cast<double>(slew.tv_sec) + slew.tv_usec * 1e-6, 0.01);

    // A strict sync told only lies never touches the clock; its listener hears it.
    ClockSeam::reset();
    _client.setPort(static_cast<Kovan::uint32>(liar.port()));
    _client.syncNow(2);
    EXPECT_EQ("failed 0", _listener.last());
    EXPECT_TRUE(ClockSeam::calls().empty());
}
