// SntpClient's sync, on the test's thread and on the client's own looper thread, against a
// scripted server, with the clock seam standing in for the clock: step or slew, the invalid-time
// rejection, setter failures, every listener code, retries and stopSync.
#include "SntpTestSupport.h"
#include "support/ClockSeam.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <mutex>

using Kovan::SntpClient;
using Kovan::SntpTime;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using SntpTest::ScriptedServer;

namespace {

const time_t NOW = 1700000000;

// Outcomes as "ok N" / "failed N", in order.
class RecordingListener : public SntpClient::Listener {
public:
    void sntpSyncSucceeded(SntpClient* client, Kovan::int32 code) override
    {
        add(client, "ok ", code);
    }
    void sntpSyncFailed(SntpClient* client, Kovan::int32 code) override
    {
        add(client, "failed ", code);
    }
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
        // Told while the sync is still marked running.
        sawSyncing = sawSyncing && client->isSyncing();
        std::lock_guard<std::mutex> lock(_mutex);
        _outcomes.push_back(what + std::to_string(code));
    }
    std::mutex _mutex;
    std::vector<std::string> _outcomes;
};

class SntpClientSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SNTP_REQUIRE_PRIVATE_NETWORK();
        ClockSeam::reset();
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
        ClockSeam::reset();
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
    ScriptedServer _server { [this](const std::string& request,
                                 SntpTime) -> std::optional<std::string> {
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
    struct Case {
        double shift;
        ClockCall::Kind kind;
        const char* outcome;
    } cases[] = {
        { 59.0, ClockCall::ADJTIME, "ok 3" },
        { -59.0, ClockCall::ADJTIME, "ok 2" },
        { 0.0, ClockCall::ADJTIME, "ok 3" },
        { 60.0, ClockCall::SETTIMEOFDAY, "ok 1" },
        { -60.0, ClockCall::SETTIMEOFDAY, "ok 0" },
        { 86400.5, ClockCall::SETTIMEOFDAY, "ok 1" },
    };
    for (const Case& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 0 });
        const std::string traced = sync(c.shift);
        EXPECT_EQ(c.outcome, _listener.last()) << c.shift;
        const std::vector<KovanTest::ClockCall> calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << c.shift;
        EXPECT_EQ(c.kind, calls[0].kind) << c.shift;

        const int seconds = static_cast<int>(c.shift);
        char expected[512];
        int at = snprintf(expected, sizeof(expected),
            "SntpClient : connect to \"127.0.0.1\" on port %d\n"
            "SntpTime : current=%u, newtime=%u!\n",
            _server.port(), static_cast<unsigned>(NOW), static_cast<unsigned>(NOW + seconds));
        if (ClockCall::ADJTIME == c.kind) {
            EXPECT_EQ(seconds, calls[0].tv.tv_sec);
            EXPECT_EQ(0, calls[0].tv.tv_usec);
            snprintf(expected + at, sizeof(expected) - at,
                "Sntp::adjustCurrentTime Called! tv: %d, 0\n"
                "adjtime success! syncronizing time to : %d, 0\n"
                "SntpClient(adj) : time was synchronised successfully\n",
                seconds, seconds);
        } else {
            EXPECT_EQ(NOW + seconds, calls[0].tv.tv_sec);
            EXPECT_EQ(c.shift == 86400.5 ? 500000 : 0, calls[0].tv.tv_usec);
            snprintf(expected + at, sizeof(expected) - at,
                "SntpClient : time was synchronised successfully\n");
        }
        EXPECT_EQ(expected, traced) << c.shift;
    }
    EXPECT_TRUE(_listener.sawSyncing);
    EXPECT_FALSE(_client.isSyncing());

    // Without the option, a change within the minute steps too.
    ClockSeam::reset();
    ClockSeam::setNow({ NOW, 0 });
    _client.setAdjustForSameMinute(false);
    sync(5.0);
    EXPECT_EQ("ok 1", _listener.last());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 5, ClockSeam::calls()[0].tv.tv_sec);
}

TEST_F(SntpClientSyncTest, InvalidNewTimesAndSetterFailuresAreReported)
{
    // A new time in the last half millisecond of a second converts to tv_usec 1000000; beyond
    // 2038 the seconds are negative as a signed 32-bit number.
    const char* const invalid = "SntpClient : new time is invalid\n";
    for (const std::pair<timeval, double>& c : { std::make_pair(timeval { NOW, 999600 }, 0.0),
             std::make_pair(timeval { NOW, 0 }, 2147483648.0 - NOW + 10) }) {
        ClockSeam::setNow(c.first);
        const std::string traced = sync(c.second);
        EXPECT_EQ("failed 1", _listener.last());
        EXPECT_NE(std::string::npos, traced.find(invalid)) << traced;
    }
    EXPECT_TRUE(ClockSeam::calls().empty());

    ClockSeam::setNow({ NOW, 0 });
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    std::string traced = sync(120.0);
    EXPECT_EQ("failed 2", _listener.last());
    EXPECT_NE(std::string::npos, traced.find("SntpClient : failed to set the local time\n"))
        << traced;
    traced = sync(2.0);
    EXPECT_EQ("failed 2", _listener.last());
    EXPECT_NE(std::string::npos, traced.find("SntpClient(adj) : failed to set the local time\n"))
        << traced;
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
