// SntpClient against scripted servers on loopback, the clock seam standing in for the clock.
#include "sntp/SntpClient.h"

#include "support/StderrCapture.h"

#include "net/SocketException.h"
#include "sntp/NtpStamp.h"
#include "sntp/SntpTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <utility>

using namespace Kovan;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using namespace SntpTest;
using Replies = std::vector<std::string>;

static const time_t NOW = 1700000000;
using Clock = std::chrono::steady_clock;

enum { OK = 0, FAILED = 10 }; // plus the code: a listener's outcome

struct RecordingListener : SntpClient::Listener {
    void sntpSyncSucceeded(SntpClient* c, Kovan::int32 code) override { add(c, OK + code); }
    void sntpSyncFailed(SntpClient* c, Kovan::int32 code) override { add(c, FAILED + code); }
    // Read only between syncs that the reading thread made itself.
    void sntpSyncReported(SntpClient*, const SntpSyncReport& r) override { reports.push_back(r); }
    void add(SntpClient* client, int outcome)
    {
        sawSyncing = sawSyncing && client->isSyncing();
        at = Clock::now().time_since_epoch() / std::chrono::milliseconds(1);
        last = outcome;
        ++told;
    }
    std::atomic<int> last { -1 }, told { 0 };
    std::atomic<long long> at { 0 }; // steady milliseconds
    std::atomic<bool> sawSyncing { true };
    std::vector<SntpSyncReport> reports;
};

class SntpClientTest : public NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
        _descriptors = openDescriptors();
        ClockSeam::setNow({ NOW, 0 });
        _client.setListener(&_listener);
        _client.setServerAddress("127.0.0.1");
        _client.setPort(static_cast<Kovan::uint32>(_server.port()));
        _client.setTimeout(300);
        _client.setSleepTime(20);
    }
    void TearDown() override
    {
        _client.quit();
        _client.join();
        NetworkTest::TearDown();
        EXPECT_EQ(_descriptors, openDescriptors()) << "a socket leaked";
    }

    bool query(int port)
    {
        _client.setPort(static_cast<Kovan::uint32>(port));
        KovanTest::StderrCapture capture;
        const bool ok = _client.getServerTime(&_response, &_report);
        _traced = capture.take();
        return ok;
    }

    // One sync against the server `shift` seconds ahead; how many trace lines it wrote.
    int sync(double shift, Kovan::uint32 retries = 1)
    {
        _shift = shift;
        KovanTest::StderrCapture capture;
        _client.syncNow(retries);
        const std::string traced = capture.take();
        return static_cast<int>(std::count(traced.begin(), traced.end(), '\n'));
    }

    // `_shift` ahead of the request's transmit time (the exact offset: the clock stands still).
    std::atomic<double> _shift { 0.0 };
    std::atomic<int> _silentRequests { 0 };
    ScriptedServer _server { [this](const std::string& request) {
        if (_silentRequests-- > 0)
            return Replies();
        const SntpTime serverTime = timeAt(request, 40) + _shift.load();
        return Replies { ScriptedServer::reply(request, serverTime, serverTime, 4) };
    } };
    RecordingListener _listener;
    SntpClient _client;
    Kovan::SntpServerResponse _response;
    SntpQueryReport _report;
    std::string _traced;
    int _descriptors = 0;
};

TEST_F(SntpClientTest, RepliesAreReadAsTheirBytesSay)
{
    // Two bytes, the rest reading as zero; noise, a kiss whose code has bytes no text shows; a
    // server a day behind holding the request a quarter second (the clock stands still: T4 = T1,
    // T2 = T1 - 86400.5, T3 = T2 + 0.25).
    const SntpTimePacket now = SntpTime::currentTime();
    const std::string request
        = "\x1B" + std::string(39, '\0') + std::string(reinterpret_cast<const char*>(&now), 8);
    std::string noise(82, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 37 + 131);
    noise.replace(1, 1, 1, '\0').replace(12, 4, "\x1F ~\x7F");
    const SntpTime rec = SntpTime(now) + -86400.5;
    const std::string replies[]
        = { std::string("\xE4\x05"), noise, ScriptedServer::reply(request, rec, rec + 0.25, 3, 2) };
    std::atomic<int> next { 0 };
    std::atomic<bool> asked { true }; // every request as expected
    ScriptedServer server([&](const std::string& bytes) {
        asked = asked && bytes == request;
        return Replies { replies[next++] };
    });
    for (const std::string& reply : replies) {
        ASSERT_TRUE(query(server.port()));
        const std::string full = reply + std::string(48, '\0');
        const auto word = [&](size_t at) { return ntohl(SntpTimePacket(timeAt(full, at)).sec); };
        const auto byte = [&](size_t at) { return static_cast<unsigned char>(full[at]); };
        EXPECT_EQ(byte(0) >> 6, _response.leapIndicator);
        EXPECT_EQ((byte(0) >> 3) & 7, _report.version);
        EXPECT_EQ(
            std::make_tuple(int(byte(1)), int(byte(2)), int(static_cast<signed char>(byte(3)))),
            std::make_tuple(int(_response.stratum), _report.poll, _report.precision));
        EXPECT_EQ(std::make_tuple(word(4) / 65536.0, word(8) / 65536.0, word(12)),
            std::make_tuple(_report.rootDelay, _report.rootDispersion, _report.referenceId));
        EXPECT_EQ(std::string(byte(1) == 0 ? "? ~?" : ""), _report.kissCode);
        EXPECT_EQ(std::make_tuple(timeAt(full, 24), timeAt(full, 32), timeAt(full, 40)),
            std::make_tuple(_response.oriTime, _response.recTime, _response.xmtTime));
        EXPECT_EQ(std::make_tuple(timeAt(full, 24).time(), timeAt(full, 32).time(),
                      timeAt(full, 40).time(), SntpTime::currentTime().time()),
            std::make_tuple(
                _report.originate, _report.receive, _report.transmit, _report.destination));
    }
    EXPECT_NEAR(-0.25, _response.delay, 1e-9);
    EXPECT_NEAR(-86400.5 + 0.125, _response.offset, 1e-9);
    EXPECT_TRUE(asked);
    EXPECT_EQ(3, server.requests());
    EXPECT_EQ(SntpTime(now), _response.desTime);
}

TEST_F(SntpClientTest, SilentEmptyRefusedAndUnsentQueriesFail)
{
    // Silence waits the limit in full; an empty datagram and a refused port fail without one.
    _client.setTimeout(1250);
    ScriptedServer silent([](const std::string&) { return Replies(); });
    ScriptedServer empty([](const std::string&) { return Replies { "" }; });
    for (int port : { silent.port(), empty.port(), 9 }) {
        const auto start = Clock::now();
        EXPECT_FALSE(query(port));
        EXPECT_TRUE(port != silent.port() || msSince(start) >= 1240) << "no wait in full";
        EXPECT_EQ(port == silent.port() ? SntpQueryReport::TIMED_OUT : SntpQueryReport::FAILED,
            _report.outcome);
        EXPECT_NE("", _traced) << "a failure without its line";
    }
    _client.setStrict(true);
    _client.setTimeout(100);
    EXPECT_FALSE(query(silent.port()));
    EXPECT_NE("", _traced) << "a strict query's silence without its line";
    EXPECT_EQ(2, silent.requests());
    // A failed send reaches the caller, its socket closed (the fixture counts descriptors).
    for (bool strict : { false, true }) {
        _client.setStrict(strict);
        failNextSend(EPERM);
        EXPECT_THROW(query(_server.port()), Kovan::SocketException) << "strict " << strict;
    }
    EXPECT_EQ(0, _server.requests());
    // Out of descriptors, no socket: a failed query, and a line to say why.
    KovanTest::StderrCapture capture;
    EXPECT_FALSE(withoutDescriptors([&] { return _client.getServerTime(&_response, &_report); }));
    EXPECT_NE("", capture.take());
    // A name nobody resolves, an address with no route (the connect fails): failed queries.
    for (const char* server : { "no-such-host.invalid", "0.0.0.1" }) {
        _client.setServerAddress(server);
        EXPECT_FALSE(query(_server.port())) << server;
        EXPECT_EQ(SntpQueryReport::FAILED, _report.outcome) << server;
        EXPECT_EQ('0' == *server, "" != _traced) << "only the connect's failure is traced";
    }
}

TEST_F(SntpClientTest, SyncSlewsUnderAMinuteStepsOtherwiseRetriesAndReportsEveryOutcome)
{
    // Neither a new time in a second's last half millisecond (tv_usec 1000000) nor one past 2038
    // reaches the clock. Retries go on until a reply, up to their count.
    const auto SET = ClockCall::SETTIMEOFDAY, SLEW = ClockCall::ADJTIME;
    const struct {
        double shift;
        int usec, error, silent, retries, outcome, calls, lines; // error of both setters
        bool slewUnderAMinute;
        ClockCall::Kind kind;
        timeval tv; // the correction, or the new time
    } cases[] = {
        { 59.0, 0, 0, 0, 1, OK + 3, 1, 5, true, SLEW, { 59, 0 } },
        { 0.0, 0, 0, 0, 1, OK + 3, 1, 5, true, SLEW, { 0, 0 } }, // not earlier
        { -59.0, 0, 0, 0, 1, OK + 2, 1, 5, true, SLEW, { -59, 0 } },
        { 60.0, 0, 0, 0, 1, OK + 1, 1, 3, true, SET, { NOW + 60, 0 } },
        { -60.0, 0, 0, 0, 1, OK + 0, 1, 3, true, SET, { NOW - 60, 0 } },
        { 86400.5, 0, 0, 0, 1, OK + 1, 1, 3, true, SET, { NOW + 86400, 500000 } },
        { 5.0, 0, 0, 0, 1, OK + 1, 1, 3, false, SET, { NOW + 5, 0 } },
        { 120.0, 0, EPERM, 0, 1, FAILED + 2, 1, 3, true, SET, { NOW + 120, 0 } },
        { 2.0, 0, EPERM, 0, 1, FAILED + 2, 1, 4, true, SLEW, { 2, 0 } },
        { 0.0, 999600, 0, 0, 1, FAILED + 1, 0, 2, true, SLEW, {} },
        { 2147483648.0 - NOW + 10, 0, 0, 0, 1, FAILED + 1, 0, 2, true, SLEW, {} },
        { 100.0, 0, 0, 2, 3, OK + 1, 1, 5, true, SET, { NOW + 100, 0 } },
        { 100.0, 0, 0, 3, 3, FAILED, 0, 4, true, SLEW, {} },
        { 100.0, 0, 0, 0, 0, FAILED, 0, 1, true, SLEW, {} },
    };
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, c.usec });
        ClockSeam::setError(ClockCall::SETTIMEOFDAY, c.error);
        ClockSeam::setError(ClockCall::ADJTIME, c.error);
        _client.setAdjustForSameMinute(c.slewUnderAMinute);
        _silentRequests = c.silent;
        const int requests = _server.requests();
        EXPECT_EQ(c.lines, sync(c.shift, static_cast<Kovan::uint32>(c.retries))) << c.shift;
        EXPECT_EQ(std::min(c.retries, c.silent + 1), _server.requests() - requests) << c.shift;
        EXPECT_EQ(c.outcome, _listener.last) << c.shift;
        const std::vector<ClockCall> calls = ClockSeam::calls();
        ASSERT_EQ(c.calls, static_cast<int>(calls.size())) << c.shift;
        for (const ClockCall& call : calls)
            EXPECT_EQ(std::make_tuple(c.kind, c.tv.tv_sec, c.tv.tv_usec),
                std::make_tuple(call.kind, call.tv.tv_sec, call.tv.tv_usec))
                << c.shift;
    }
    EXPECT_TRUE(_listener.sawSyncing);
    EXPECT_FALSE(_client.isSyncing());
}

TEST_F(SntpClientTest, BackgroundSyncRunsAtOnceWhenGivenAddressAndIntervalUntilStopped)
{
    // Out of the box: port 123, 5 s for a reply, five attempts a sync, and no background sync.
    const SntpClient fresh;
    EXPECT_EQ(std::vector<Kovan::uint32>({ 123, 5000, 5, 0, 0 }),
        std::vector<Kovan::uint32>({ fresh.port(), fresh.timeout(), fresh.retryCount(),
            fresh.syncInterval(), fresh.syncIntervalSeconds() }));
    ASSERT_TRUE(_client.run());
    _client.setSleepTime(600);
    _client.setRetryCount(1000);
    _shift = 3600.0;
    KovanTest::StderrCapture capture;
    // No interval yet: the looper waits for one. A failed send is a failed sync; it goes on.
    failNextSend(EPERM);
    _client.setSyncInterval(1);
    ASSERT_TRUE(eventually([&] { return FAILED == _listener.last; }));
    capture.take(); // the idle looper's first park, and the failed sync

    // The same address again changes nothing; clearing it parks the looper after its pause.
    _client.setServerAddress("127.0.0.1");
    _client.setServerAddress("");
    EXPECT_TRUE(eventually([&] { return _client.isSuspend(); }));
    // A parked looper says so, once: nothing wakes it while it has no address.
    const std::string parked = capture.take();
    const size_t said = parked.find("suspended");
    EXPECT_TRUE(std::string::npos != said && parked.rfind("suspended") == said) << parked;
    const long long now = Clock::now().time_since_epoch() / std::chrono::milliseconds(1);
    EXPECT_GE(now - _listener.at, 600) << "the looper did not pause after its pass";
    EXPECT_EQ(0, _server.requests());
    EXPECT_FALSE(_client.isSyncing());

    // A new address wakes it to sync at once; a new interval stops that sync after its attempt.
    _silentRequests = 1000;
    _client.setServerAddress("localhost");
    ASSERT_TRUE(eventually([&] { return _server.requests() >= 2; }));
    // Stopped between attempts: far fewer requests than the thousand attempts allowed.
    _client.setSyncIntervalSeconds(3600);
    EXPECT_EQ(2, _listener.told);
    EXPECT_LT(_server.requests(), 100);
    EXPECT_TRUE(ClockSeam::calls().empty());
    // A new address wakes it at once too, and stops the sync under way before it returns.
    const int asked = _server.requests();
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(eventually([&] { return _server.requests() >= asked + 2; }));
    _silentRequests = 0;
    _client.setServerAddress("localhost");
    EXPECT_GE(_listener.told, 3) << "the sync under way went on";
    ASSERT_TRUE(eventually([&] { return OK + 1 == _listener.last; }));
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 3600, ClockSeam::calls()[0].tv.tv_sec);
}

TEST_F(SntpClientTest, StrictModeSkipsEveryBadReplyAndTakesTheValidOneThatFollows)
{
    // Each bad reply, a contradicting one among them, comes before a valid one (or alone): only
    // an echoing kiss ends the query.
    const auto byte = [](size_t at, char value) { return [=](std::string& r) { r[at] = value; }; };
    const auto bytes = [](size_t at, const std::string& value) {
        return [=](std::string& r) { r.replace(at, value.size(), value); };
    };
    // Sets the stamp at `at` to the one at `from` plus `seconds`.
    const auto stamp = [](size_t at, size_t from, double seconds) {
        return [=](std::string& r) {
            const SntpTimePacket moved = timeAt(r, from) + seconds;
            r.replace(at, 8, reinterpret_cast<const char*>(&moved), 8);
        };
    };
    const auto flipOrg = [](std::string& r) { r[31] = static_cast<char>(r[31] ^ 1); };
    const auto kiss = [](std::string& r) { r.replace(12, 4, "RATE")[1] = 0; };
    const auto ANSWERED = SntpQueryReport::ANSWERED, TIMED_OUT = SntpQueryReport::TIMED_OUT,
               KISS = SntpQueryReport::KISS_OF_DEATH;
    using V = SntpReplyVerdict;
    const std::string zeros(8, '\0');
    const struct {
        const char* name;
        std::function<void(std::string&)> edit;
        SntpQueryReport::Outcome outcome; // TIMED_OUT: no valid reply follows
        SntpReplyVerdict why;
    } cases[] = {
        { "47 bytes", [](std::string& r) { r.resize(47); }, ANSWERED, V::TOO_SHORT },
        { "mode 3", byte(0, 0x1B), ANSWERED, V::NOT_SERVER },
        { "version 0", byte(0, 0x04), ANSWERED, V::BAD_VERSION },
        { "version 5", byte(0, 0x2C), ANSWERED, V::BAD_VERSION },
        { "stratum 16", byte(1, 16), ANSWERED, V::BAD_STRATUM },
        { "leap 3", byte(0, '\xDC'), ANSWERED, V::UNSYNCHRONISED },
        { "transmit 0", bytes(40, zeros), ANSWERED, V::NO_TIME },
        { "receive 0", bytes(32, zeros), ANSWERED, V::NO_TIME },
        { "transmit 1000 s before receive", stamp(40, 32, -1000.0), ANSWERED,
            V::TRANSMIT_BEFORE_RECEIVE },
        { "held 1000 s, longer than the round trip", stamp(40, 32, 1000.0), ANSWERED,
            V::BAD_DELAY },
        { "reference 0", bytes(16, zeros), ANSWERED, V::BAD_REFERENCE },
        { "reference after transmit", stamp(16, 40, 0.5), ANSWERED, V::BAD_REFERENCE },
        { "root delay 0xFFFFFFFF, unsigned", bytes(4, "\xFF\xFF\xFF\xFF"), ANSWERED, V::TOO_FAR },
        { "root dispersion 1 s", bytes(8, std::string("\0\1\0\0", 4)), ANSWERED, V::TOO_FAR },
        { "org off by 2^-32 s", flipOrg, ANSWERED, V::NOT_OURS },
        { "forged kiss", [&](std::string& r) { kiss(r), flipOrg(r); }, ANSWERED, V::NOT_OURS },
        { "stratum 16 alone", byte(1, 16), TIMED_OUT, V::BAD_STRATUM },
        { "kiss", kiss, KISS, V::ACCEPTED },
    };
    std::atomic<size_t> current { 0 };
    std::atomic<bool> lieOnly { false };
    std::atomic<bool> zeroed { true }; // every request byte before the transmit time
    ScriptedServer server([&](const std::string& request) {
        zeroed = zeroed && "\x23" + std::string(39, '\0') == request.substr(0, 40);
        // Held a few nanoseconds: within any round trip, yet enough to show in the delay.
        const SntpTime t = timeAt(request, 40) + 5.0;
        Replies replies { ScriptedServer::reply(request, t, t + 1e-8),
            ScriptedServer::reply(request, t, t + 1e-8, 3) };
        cases[current].edit(replies[0]);
        if (TIMED_OUT == cases[current].outcome || lieOnly)
            replies.pop_back();
        return replies;
    });
    _client.setStrict(true);
    for (current = 0; current < std::size(cases); ++current) {
        const auto& c = cases[current];
        const auto start = Clock::now();
        const bool answered = query(server.port());
        EXPECT_EQ(
            std::make_tuple(ANSWERED == c.outcome, c.outcome, true, KISS == c.outcome ? 0u : 1u,
                c.why, std::string(KISS == c.outcome ? "RATE" : ""), KISS == c.outcome),
            std::make_tuple(answered, _report.outcome,
                TIMED_OUT != c.outcome || msSince(start) >= 290, _report.rejected,
                _report.lastRejection, std::string(_report.kissCode),
                std::string::npos != _traced.find("RATE")))
            << c.name << ": " << sntpVerdictText(_report.lastRejection);
        if (ANSWERED != c.outcome)
            continue;
        // The valid reply's stratum and stamps, and the round trip and offset they give.
        const auto t = [](Kovan::uint64 wire) { return SntpTime(NtpStamp::toWire(wire)); };
        const auto& r = _report;
        EXPECT_EQ(std::make_tuple(3, t(r.originate), t(r.receive), t(r.transmit), t(r.destination)),
            std::make_tuple(int(_response.stratum), _response.oriTime, _response.recTime,
                _response.xmtTime, _response.desTime));
        EXPECT_NEAR(5.0, _response.recTime - _response.oriTime, 0.3) << c.name;
        EXPECT_DOUBLE_EQ(NtpStamp::difference(r.destination, r.originate)
                - NtpStamp::difference(r.transmit, r.receive),
            _response.delay);
        EXPECT_DOUBLE_EQ((NtpStamp::difference(r.receive, r.originate)
                             + NtpStamp::difference(r.transmit, r.destination))
                / 2,
            _response.offset);
        EXPECT_TRUE(_response.delay >= 0 && _response.delay < 0.3) << c.name;
    }

    EXPECT_TRUE(zeroed);
    // Told only lies, a strict sync leaves the clock; told the truth, it slews by the exact offset.
    _client.setTimeout(100);
    lieOnly = true;
    for (current = 0; current + 2 < std::size(cases); ++current) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 0 });
        sync(0.0, 2);
        EXPECT_EQ(FAILED, _listener.last) << cases[current].name;
        EXPECT_TRUE(ClockSeam::calls().empty()) << cases[current].name;
    }
    _client.setPort(static_cast<Kovan::uint32>(_server.port()));
    sync(2.5);
    EXPECT_EQ(OK + 3, _listener.last);
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
    const timeval slew = ClockSeam::calls()[0].tv;
    EXPECT_NEAR(2.5, static_cast<double>(slew.tv_sec) + slew.tv_usec * 1e-6, 0.01);
    // A slew sets the clock as surely as a step: a far step after it waits for agreement.
    sync(5000.0);
    EXPECT_EQ(FAILED + 3, _listener.last);
}

TEST_F(SntpClientTest, StrictSyncStepsFarOnlyFirstOrWhenThreeSyncsAgree)
{
    _client.setStrict(true);
    const auto STEP = SntpSyncReport::STEP, SLEW = SntpSyncReport::SLEW,
               NONE = SntpSyncReport::NONE;
    // The clock stands still at NOW and a step does not move it, so each offset is the shift.
    const struct {
        double shift;
        Kovan::uint32 limit;
        int outcome;
        SntpSyncReport::Action action;
        Kovan::uint32 agreeing;
    } steps[] = {
        { 5000.0, 1000, OK + 1, STEP, 0 }, // the first sync sets the clock, however far
        { 5000.0, 1000, FAILED + 3, NONE, 1 }, // once set, a far step waits
        { 5000.6, 1000, FAILED + 3, NONE, 2 }, // within a second of the last: agrees
        { 4999.7, 1000, OK + 1, STEP, 3 }, // the third agreeing sync steps
        { 5000.0, 1000, FAILED + 3, NONE, 1 }, // having stepped, it counts again
        { 3000.0, 1000, FAILED + 3, NONE, 1 }, // a different offset starts the count again
        { 30.0, 1000, OK + 3, SLEW, 0 }, // near: slewed, and the count is forgotten
        { 3000.0, 1000, FAILED + 3, NONE, 1 }, { 999.0, 1000, OK + 1, STEP, 0 }, // within the limit
        { 3000.0, 0, OK + 1, STEP, 0 }, // no limit
    };
    for (const auto& c : steps) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 0 });
        _client.setStepLimit(c.limit);
        _listener.reports.clear();
        sync(c.shift);
        EXPECT_EQ(c.outcome, _listener.last) << c.shift;
        ASSERT_EQ(1u, _listener.reports.size()) << c.shift;
        const SntpSyncReport& r = _listener.reports[0];
        EXPECT_EQ(std::make_tuple(c.outcome % FAILED, c.outcome < FAILED, c.action, c.agreeing,
                      true, 4, std::string("127.0.0.1"), NONE == c.action ? 0u : 1u),
            std::make_tuple(r.code, r.succeeded, r.action, r.agreeing, r.answered, int(r.stratum),
                std::string(r.server), ClockSeam::calls().size()))
            << c.shift;
        EXPECT_NEAR(c.shift, r.offset, 0.05) << c.shift;
    }
    // The cause of a refused change reaches the report; the classic mode has no step limit.
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    _listener.reports.clear();
    _client.setStrict(false);
    _client.setStepLimit(1000);
    sync(86400.0);
    ASSERT_EQ(1u, _listener.reports.size());
    EXPECT_EQ(std::make_tuple(FAILED + 2, EPERM, STEP),
        std::make_tuple(
            int(_listener.last), _listener.reports[0].clockErrno, _listener.reports[0].action));
}

TEST_F(SntpClientTest, StrictModeRefusesANameItWouldHaveToCut)
{
    const std::string longest(63, 'a'), tooLong(64, 'b');
    for (bool strict : { false, true }) {
        SntpClient client;
        client.setStrict(strict);
        KovanTest::StderrCapture capture;
        EXPECT_TRUE(client.setServerAddress(longest.c_str())) << strict;
        EXPECT_EQ("", capture.take()) << strict;
        EXPECT_EQ(!strict, client.setServerAddress(tooLong.c_str())) << strict;
        const std::string traced = capture.take(); // the cut's line, or the refusal's
        EXPECT_EQ(1, std::count(traced.begin(), traced.end(), '\n')) << traced;
        EXPECT_EQ(strict ? longest : tooLong.substr(0, 63), client.serverAddress()) << strict;
    }
}

TEST_F(SntpClientTest, AnIntervalInSecondsTakesThePlaceOfTheMinutes)
{
    KovanTest::StderrCapture capture;
    ASSERT_TRUE(_client.run());
    _client.setSyncIntervalSeconds(1); // wakes the idle looper: the minutes are still 0
    EXPECT_EQ(1u, _client.syncIntervalSeconds());
    ASSERT_TRUE(eventually([&] { return _listener.told >= 1; }));
    const auto first = Clock::now();
    ASSERT_TRUE(eventually([&] { return _listener.told >= 2; }, 10000));
    EXPECT_GE(msSince(first), 900) << "the second sync came before its interval";
    _client.setSyncIntervalSeconds(0xFFFFFFFFu);
    EXPECT_EQ(SntpClient::MAX_SYNC_SECONDS, _client.syncIntervalSeconds());
}
