// SntpClient's sync, on the test's thread and on the client's own looper thread, against a
// scripted server, with the clock seam standing in for the clock: step or slew, the invalid-time
// rejection, setter failures, every listener code, retries and stopSync.
#include "SntpTestSupport.h"
#include "support/ClockSeam.h"
#include "support/StderrCapture.h"

#include "sntp/SntpClient.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using Kovan::SntpClient;
using Kovan::SntpTime;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using SntpTest::ScriptedServer;

namespace {

const time_t NOW = 1700000000;

timeval tv(time_t sec, suseconds_t usec)
{
    timeval v;
    v.tv_sec = sec;
    v.tv_usec = usec;
    return v;
}

// Outcomes as "ok N" / "failed N", in order; waits are bounded.
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

    bool waitFor(size_t count, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(_mutex);
        return _changed.wait_for(
            lock, std::chrono::milliseconds(timeoutMs), [&] { return _outcomes.size() >= count; });
    }
    std::vector<std::string> outcomes()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _outcomes;
    }
    bool sawSyncing = true;

private:
    void add(SntpClient* client, const char* what, Kovan::int32 code)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        // Told while the sync is still marked running.
        sawSyncing = sawSyncing && client->isSyncing();
        _outcomes.push_back(what + std::to_string(code));
        _changed.notify_all();
    }
    std::mutex _mutex;
    std::condition_variable _changed;
    std::vector<std::string> _outcomes;
};

class SntpClientSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SNTP_REQUIRE_PRIVATE_NETWORK();
        ClockSeam::reset();
        ClockSeam::setNow(tv(NOW, 0));
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

    // One sync on the test's thread; returns its trace lines.
    std::string sync(Kovan::uint32 retries = 1)
    {
        KovanTest::StderrCapture capture;
        _client.syncNow(retries);
        return capture.take();
    }
    std::string lastOutcome()
    {
        const std::vector<std::string> all = _listener.outcomes();
        return all.empty() ? "none" : all.back();
    }

    // The server's clock runs `_shift` seconds ahead of the request's transmit time; the test's
    // clock stands still, so the offset the client computes is exactly the shift. Silent while
    // `_silentRequests` is above zero.
    std::atomic<double> _shift { 0.0 };
    std::atomic<int> _silentRequests { 0 };
    ScriptedServer _server { [this](const std::string& request, SntpTime) {
        if (_silentRequests-- > 0)
            return std::string();
        Kovan::SntpTimePacket xmt;
        memcpy(&xmt, request.data() + 40, 8);
        const SntpTime serverTime = SntpTime(xmt) + _shift.load();
        return ScriptedServer::reply(request, serverTime, serverTime, 4);
    } };
    RecordingListener _listener;
    SntpClient _client;
};

} // namespace

TEST_F(SntpClientSyncTest, UnderAMinuteSlewsAndAMinuteOrMoreSteps)
{
    _client.setServerAddress("127.0.0.1");
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
        ClockSeam::setNow(tv(NOW, 0));
        _shift = c.shift;
        const std::string traced = sync();
        EXPECT_EQ(c.outcome, lastOutcome()) << c.shift;
        const std::vector<KovanTest::ClockCall> calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << c.shift;
        EXPECT_EQ(c.kind, calls[0].kind) << c.shift;

        const time_t target = NOW + static_cast<time_t>(c.shift);
        char expected[512];
        if (ClockCall::ADJTIME == c.kind) {
            EXPECT_EQ(static_cast<time_t>(c.shift), calls[0].tv.tv_sec);
            EXPECT_EQ(0, calls[0].tv.tv_usec);
            snprintf(expected, sizeof(expected),
                "SntpClient : connect to \"127.0.0.1\" on port %d\n"
                "SntpTime : current=%u, newtime=%u!\n"
                "Sntp::adjustCurrentTime Called! tv: %d, 0\n"
                "adjtime success! syncronizing time to : %d, 0\n"
                "SntpClient(adj) : time was synchronised successfully\n",
                _server.port(), static_cast<unsigned>(NOW), static_cast<unsigned>(target),
                static_cast<int>(c.shift), static_cast<int>(c.shift));
        } else {
            EXPECT_EQ(target, calls[0].tv.tv_sec);
            EXPECT_EQ(c.shift == 86400.5 ? 500000 : 0, calls[0].tv.tv_usec);
            snprintf(expected, sizeof(expected),
                "SntpClient : connect to \"127.0.0.1\" on port %d\n"
                "SntpTime : current=%u, newtime=%u!\n"
                "SntpClient : time was synchronised successfully\n",
                _server.port(), static_cast<unsigned>(NOW), static_cast<unsigned>(target));
        }
        EXPECT_EQ(expected, traced) << c.shift;
    }
    EXPECT_TRUE(_listener.sawSyncing);
    EXPECT_FALSE(_client.isSyncing());
}

TEST_F(SntpClientSyncTest, SlewAimsAtTheWholeSecondAndClearingTheOptionSteps)
{
    _client.setServerAddress("127.0.0.1");
    ClockSeam::setNow(tv(NOW, 250000));
    _shift = 10.5; // new time NOW + 10.75: the slew aims at NOW + 10
    sync();
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
    EXPECT_EQ(9, ClockSeam::calls()[0].tv.tv_sec);
    EXPECT_EQ(750000, ClockSeam::calls()[0].tv.tv_usec);

    ClockSeam::reset();
    ClockSeam::setNow(tv(NOW, 0));
    _client.setAdjustForSameMinute(false);
    _shift = 5.0;
    sync();
    EXPECT_EQ("ok 1", lastOutcome());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 5, ClockSeam::calls()[0].tv.tv_sec);
}

TEST_F(SntpClientSyncTest, InvalidNewTimesAreRejected)
{
    _client.setServerAddress("127.0.0.1");
    // A new time in the last half millisecond of a second converts to tv_usec 1000000.
    ClockSeam::setNow(tv(NOW, 999600));
    _shift = 0.0;
    std::string traced = sync();
    EXPECT_EQ("failed 1", lastOutcome());
    EXPECT_NE(std::string::npos, traced.find("SntpClient : new time is invalid\n")) << traced;

    // Beyond 2038 the seconds are negative as a signed 32-bit number.
    ClockSeam::setNow(tv(NOW, 0));
    _shift = 2147483648.0 - NOW + 10;
    traced = sync();
    EXPECT_EQ("failed 1", lastOutcome());
    EXPECT_NE(std::string::npos, traced.find("SntpClient : new time is invalid\n")) << traced;
    EXPECT_TRUE(ClockSeam::calls().empty());
}

TEST_F(SntpClientSyncTest, SetterFailuresAreReported)
{
    _client.setServerAddress("127.0.0.1");
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    _shift = 120.0;
    std::string traced = sync();
    EXPECT_EQ("failed 2", lastOutcome());
    EXPECT_NE(std::string::npos, traced.find("SntpClient : failed to set the local time\n"))
        << traced;

    _shift = 2.0;
    traced = sync();
    EXPECT_EQ("failed 2", lastOutcome());
    EXPECT_NE(std::string::npos, traced.find("SntpClient(adj) : failed to set the local time\n"))
        << traced;
}

TEST_F(SntpClientSyncTest, RetriesUntilAReplyAndGivesUpAfterTheCount)
{
    _client.setServerAddress("127.0.0.1");
    _shift = 100.0;
    _silentRequests = 2;
    sync(3);
    EXPECT_EQ("ok 1", lastOutcome());
    EXPECT_EQ(3, _server.requests());

    _silentRequests = 3;
    const std::string traced = sync(3);
    EXPECT_EQ("failed 0", lastOutcome());
    EXPECT_EQ(6, _server.requests());
    EXPECT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY)) << "only the first sync set it";

    // No attempts at all: fails at once without sending.
    sync(0);
    EXPECT_EQ("failed 0", lastOutcome());
    EXPECT_EQ(6, _server.requests());
    EXPECT_EQ(std::vector<std::string>({ "ok 1", "failed 0", "failed 0" }), _listener.outcomes());
}

TEST_F(SntpClientSyncTest, BackgroundSyncRunsAtOnceWhenGivenAddressAndInterval)
{
    ASSERT_TRUE(_client.run());
    _shift = 3600.0;
    KovanTest::StderrCapture capture;
    _client.setSyncInterval(1);
    // No address yet: the looper suspends itself.
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(_listener.waitFor(1));
    EXPECT_EQ("ok 1", lastOutcome());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW + 3600, ClockSeam::calls()[0].tv.tv_sec);

    // The same address again changes nothing; clearing it parks the looper.
    _client.setServerAddress("127.0.0.1");
    _client.setServerAddress("");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!_client.isSuspend() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(_client.isSuspend());
    EXPECT_NE(std::string::npos, capture.take().find("SntpClient is suspended...\n"));
    EXPECT_EQ(1u, _listener.outcomes().size());
    EXPECT_EQ(1, _server.requests());

    // A new address wakes it for an immediate sync.
    _client.setServerAddress("localhost");
    ASSERT_TRUE(_listener.waitFor(2));
    EXPECT_EQ("ok 1", lastOutcome());
    EXPECT_EQ(2, _server.requests());
}

TEST_F(SntpClientSyncTest, StopSyncEndsAFailingBackgroundSyncAfterTheAttemptInProgress)
{
    _silentRequests = 1000;
    _client.setRetryCount(1000);
    _client.setServerAddress("127.0.0.1");
    ASSERT_TRUE(_client.run());
    _client.setSyncInterval(1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (_server.requests() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GE(_server.requests(), 2);

    const auto start = std::chrono::steady_clock::now();
    _client.stopSync();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_LT(ms, 1000) << "one 300 ms attempt and one 200 ms poll at most";
    EXPECT_FALSE(_client.isSyncing());
    ASSERT_TRUE(_listener.waitFor(1));
    EXPECT_EQ(std::vector<std::string>({ "failed 0" }), _listener.outcomes());
    EXPECT_LT(_server.requests(), 10);
    EXPECT_TRUE(ClockSeam::calls().empty());
}
