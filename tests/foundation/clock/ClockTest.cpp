// Stepping and slewing the system clock behind the clock seam: every settimeofday and adjtime the
// library makes is recorded instead of carried out, and "now" is fixed by the test.
#include "support/ClockSeam.h"
#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include "foundation/Rtc.h"
#include "foundation/Time.h"
#include "foundation/Trace.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace Kovan;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;

namespace {

// 2009-07-01 16:00:00 UTC, 12:00 in New York.
const time_t NOW = 1246464000;

class WritableRtc : public Rtc {
public:
    bool readData(uint32, void*, uint32) override { return false; }
    bool writeData(uint32, const void*, uint32) override { return false; }
    bool fillData(uint32, uint8, uint32) override { return false; }

protected:
    bool write(const tm& t) override
    {
        trace("<write %02d:%02d:%02d>\n", t.tm_hour, t.tm_min, t.tm_sec);
        return true;
    }
};

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override { ClockSeam::reset(); }
    void TearDown() override
    {
        ClockSeam::reset();
        Time::setRtc(nullptr);
    }
    KovanTest::ScopedTz _tz { "America/New_York" };
    WritableRtc _rtc;
};

} // namespace

TEST_F(ClockTest, SetCurrentTimeIsRecordedNeverCarriedOutAndWritesTheRegisteredRtc)
{
    EXPECT_FALSE(KovanTest::holdsClockCapability());
    const time_t before = ::time(nullptr);
    // 2001-09-08 21:46:40 in New York is 1000000000.
    Time::setCurrentTime(Time(2001, 9, 8, 21, 46, 40));
    EXPECT_NEAR(before, ::time(nullptr), 5);

    Time::setRtc(&_rtc);
    KovanTest::StderrCapture err;
    // A refused clock change is not reported, and the RTC is written all the same.
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    Time::setCurrentTime(Time(2009, 7, 1, 12, 0, 0));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n<write 16:00:00>\n", err.take());
    const auto calls = ClockSeam::calls();
    ASSERT_EQ(2u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(1000000000, calls[0].tv.tv_sec);
    EXPECT_EQ(0, calls[0].tv.tv_usec);
    EXPECT_EQ(NOW, calls[1].tv.tv_sec);
    EXPECT_CHECK_FAILS(
        Time::setCurrentTime(Time(2009, 2, 30, 0, 0, 0)), "t.isValid()", "setCurrentTime");
}

TEST_F(ClockTest, StepToTheSecondAndSlewToTheWholeSecond)
{
    EXPECT_TRUE(_rtc.setSystemClock(NOW + 5));
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    EXPECT_FALSE(_rtc.setSystemClock(NOW + 6));
    ASSERT_EQ(2u, ClockSeam::calls().size());
    EXPECT_EQ(NOW + 5, ClockSeam::calls()[0].tv.tv_sec);
    EXPECT_EQ(0, ClockSeam::calls()[0].tv.tv_usec);

    const struct {
        timeval now;
        time_t target;
        long seconds;
        long microseconds;
    } cases[] = { { { 100, 250000 }, 160, 59, 750000 }, { { 100, 0 }, 160, 60, 0 },
        { { 100, 250000 }, 98, -3, 750000 }, { { 100, 999999 }, 101, 0, 1 } };
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow(c.now);
        EXPECT_TRUE(_rtc.adjustSystemClock(c.target));
        ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
        EXPECT_EQ(c.seconds, ClockSeam::calls()[0].tv.tv_sec) << c.target;
        EXPECT_EQ(c.microseconds, ClockSeam::calls()[0].tv.tv_usec) << c.target;
    }
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    EXPECT_FALSE(_rtc.adjustSystemClock(160));
}
