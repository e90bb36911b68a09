// Stepping and slewing the system clock, through the clock seam: every settimeofday and adjtime
// the library makes is recorded instead of carried out, and "now" is fixed by the test so that
// the one-minute boundary of Rtc::sync is exact.
#include "foundation/Rtc.h"
#include "foundation/Time.h"
#include "foundation/Trace.h"
#include "support/ClockSeam.h"
#include "support/StderrCapture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;
using KovanTest::StderrCapture;

namespace {

// The real clock, read without going through the seam.
time_t machineClock()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

// "<head>t=%d, ct=%d\n" as the library writes it.
std::string withTimes(const char* head, long t, long ct)
{
    return std::string(head) + "t=" + std::to_string(t) + ", ct=" + std::to_string(ct) + "\n";
}

// An RTC whose calendar the test scripts; the clock operations are the Linux ones.
class ScriptedRtc : public Rtc {
public:
    tm answer;
    int writes = 0;

    void answerUtc(time_t t) { gmtime_r(&t, &answer); }

    bool readData(uint32, void*, uint32) override { return false; }
    bool writeData(uint32, const void*, uint32) override { return false; }
    bool fillData(uint32, uint8, uint32) override { return false; }

protected:
    bool read(tm* out) override
    {
        *out = answer;
        out->tm_isdst = -1;
        return true;
    }
    bool write(const tm& t) override
    {
        trace("<write %04d-%02d-%02d %02d:%02d:%02d>\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
            t.tm_hour, t.tm_min, t.tm_sec);
        ++writes;
        return true;
    }
};

class TracingListener : public Rtc::Listener {
public:
    void rtcSyncSucceeded(Rtc*, int32 code) override { trace("<succeeded %d>\n", code); }
    void rtcSyncFailed(Rtc*, int32 code) override { trace("<failed %d>\n", code); }
};

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClockSeam::reset();
        const char* old = getenv("TZ");
        _hadTz = nullptr != old;
        if (_hadTz)
            _oldTz = old;
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override
    {
        ClockSeam::reset();
        Time::setRtc(nullptr);
        if (_hadTz)
            setenv("TZ", _oldTz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool _hadTz = false;
    std::string _oldTz;
};

// 2009-07-01 16:00:00 UTC.
const time_t NOW = 1246464000;

} // namespace

TEST_F(ClockTest, SeamIsInPlaceAndTheMachineClockNeverMoves)
{
    EXPECT_FALSE(KovanTest::holdsClockCapability());
    const time_t before = machineClock();
    // Local civil time of New York: 2001-09-08 21:46:40 EDT is 1000000000.
    Time::setCurrentTime(Time(2001, 9, 8, 21, 46, 40));
    const time_t after = machineClock();
    const auto calls = ClockSeam::calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(ClockCall::SETTIMEOFDAY, calls[0].kind);
    EXPECT_EQ(1000000000, calls[0].tv.tv_sec);
    EXPECT_EQ(0, calls[0].tv.tv_usec);
    EXPECT_LE(before, after);
    EXPECT_LT(after - before, 60);
    EXPECT_GT(after, 1000000000 + 86400 * 365);
}

TEST_F(ClockTest, SetCurrentTimeAlsoWritesTheRegisteredRtc)
{
    ScriptedRtc rtc;
    Time::setRtc(&rtc);
    EXPECT_EQ(&rtc, Time::rtc());
    StderrCapture err;
    Time::setCurrentTime(Time(2009, 7, 1, 12, 0, 0));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n<write 2009-07-01 16:00:00>\n", err.take());
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(NOW, ClockSeam::calls()[0].tv.tv_sec);

    // A refused clock change is not reported, and the RTC is still written.
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    Time::setCurrentTime(Time(2009, 7, 1, 12, 0, 1));
    EXPECT_EQ(2, rtc.writes);
    err.take();

    EXPECT_CHECK_FAILS(Time::setCurrentTime(Time(2009, 2, 30, 0, 0, 0)), "t.isValid()",
        "setCurrentTime");
}

TEST_F(ClockTest, SetSystemClockStepsToTheWholeSecond)
{
    ScriptedRtc rtc;
    EXPECT_TRUE(rtc.setSystemClock(NOW + 5));
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    EXPECT_FALSE(rtc.setSystemClock(NOW + 6));
    const auto calls = ClockSeam::calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(NOW + 5, calls[0].tv.tv_sec);
    EXPECT_EQ(0, calls[0].tv.tv_usec);
    EXPECT_EQ(NOW + 6, calls[1].tv.tv_sec);
}

TEST_F(ClockTest, AdjustSystemClockAimsAtTheWholeSecond)
{
    ScriptedRtc rtc;
    const struct {
        timeval now;
        time_t target;
        long seconds;
        long microseconds;
    } cases[] = {
        { { 100, 250000 }, 160, 59, 750000 },
        { { 100, 0 }, 160, 60, 0 },
        { { 100, 250000 }, 98, -3, 750000 },
        { { 100, 999999 }, 101, 0, 1 },
        { { 100, 0 }, 100, 0, 0 },
    };
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow(c.now);
        EXPECT_TRUE(rtc.adjustSystemClock(c.target));
        const auto calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(ClockCall::ADJTIME, calls[0].kind);
        EXPECT_EQ(c.seconds, calls[0].tv.tv_sec) << c.now.tv_sec << "." << c.now.tv_usec;
        EXPECT_EQ(c.microseconds, calls[0].tv.tv_usec);
    }
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    EXPECT_FALSE(rtc.adjustSystemClock(160));
}

TEST_F(ClockTest, SyncStepsAMinuteOrMoreAndSlewsLess)
{
    ScriptedRtc rtc;
    TracingListener listener;
    rtc.setListener(&listener);
    const char* stepped = "Rtc : time was synchronised successfully: ";
    const char* slewed = "Rtc(adj) : time was synchronised successfully: ";
    const struct {
        long offset;
        const char* line;
        int code;
        ClockCall::Kind kind;
        long seconds;
        long microseconds;
    } cases[] = {
        { 60, stepped, 1, ClockCall::SETTIMEOFDAY, NOW + 60, 0 },
        { -60, stepped, 0, ClockCall::SETTIMEOFDAY, NOW - 60, 0 },
        { 3600, stepped, 1, ClockCall::SETTIMEOFDAY, NOW + 3600, 0 },
        { 59, slewed, 3, ClockCall::ADJTIME, 58, 750000 },
        { 30, slewed, 3, ClockCall::ADJTIME, 29, 750000 },
        { -30, slewed, 2, ClockCall::ADJTIME, -31, 750000 },
        { -59, slewed, 2, ClockCall::ADJTIME, -60, 750000 },
        { 0, slewed, 3, ClockCall::ADJTIME, -1, 750000 },
    };
    StderrCapture err;
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 250000 });
        rtc.answerUtc(NOW + c.offset);
        EXPECT_TRUE(rtc.sync()) << c.offset;
        EXPECT_EQ(withTimes(c.line, NOW + c.offset, NOW) + "<succeeded " + std::to_string(c.code)
                + ">\n",
            err.take());
        const auto calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << c.offset;
        EXPECT_EQ(c.kind, calls[0].kind) << c.offset;
        EXPECT_EQ(c.seconds, calls[0].tv.tv_sec) << c.offset;
        EXPECT_EQ(c.microseconds, calls[0].tv.tv_usec) << c.offset;
    }
}

TEST_F(ClockTest, SyncFailuresTraceBeforeTellingTheListener)
{
    ScriptedRtc rtc;
    TracingListener listener;
    rtc.setListener(&listener);
    ClockSeam::setNow({ NOW, 0 });
    StderrCapture err;

    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    rtc.answerUtc(NOW - 600);
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ(withTimes("Rtc : failed to set the local time: ", NOW - 600, NOW)
            + "<failed 2>\n",
        err.take());

    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    rtc.answerUtc(NOW + 10);
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ("Rtc(adj) : failed to set the local time\n<failed 3>\n", err.take());
}
