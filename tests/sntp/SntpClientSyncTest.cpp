// SntpClient's sync, on the test's thread and on the client's own looper thread, against a
// scripted server, with the clock seam standing in for the clock: step or slew, the invalid-time
// rejection, setter failures, every listener code, retries and stopSync.
#include "SntpTestSupport.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

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

class SntpClientSyncTest : public SntpTest::NetworkTest {
protected:
    void SetUp() override
    {
        NetworkTest::SetUp();
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

    // The server's clock runs `_shift` seconds ahead of the request's transmit time; the test's
    // clock stands still, so the offset the client computes is exactly the shift. Silent while
    // `_silentRequests` is above zero.
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
};

} // namespace

TEST_F(SntpClientSyncTest, UnderAMinuteSlewsAndAMinuteOrMoreSteps)
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

TEST_F(SntpClientSyncTest, InvalidNewTimesAndSetterFailuresAreReported)
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

TEST_F(SntpClientSyncTest, RetriesUntilAReplyAndGivesUpAfterTheCount)
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

TEST_F(SntpClientSyncTest, BackgroundSyncRunsAtOnceWhenGivenAddressAndInterval)
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

TEST_F(SntpClientSyncTest, StopSyncEndsAFailingBackgroundSyncAfterTheAttemptInProgress)
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
