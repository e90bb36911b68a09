// Steps and slews behind the clock seam; the simulator's "/dev/rtc" reads QUILLO_SIM_RTC_TIME.
#include "foundation/ClockPolicy.h"

#include "support/ClockSeam.h"
#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

#include "foundation/Rtc.h"

#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>

using namespace Kovan;
using namespace KovanTest;

namespace {

const time_t NOW = 1246464000; // 2009-07-01 16:00:00 UTC, 12:00 in New York

// Notes what its listener hears ("s2": sync succeeded, code 2) and each write ("w16": hour 16).
struct SystemRtc : Rtc, Rtc::Listener {
    SystemRtc() { setListener(this); }
    using Rtc::close;
    using Rtc::open;
    bool readData(uint32, void*, uint32) override { return false; }
    bool writeData(uint32, const void*, uint32) override { return false; }
    bool fillData(uint32, uint8, uint32) override { return false; }
    void rtcSyncSucceeded(Rtc*, int32 code) override { heard += "s" + std::to_string(code); }
    void rtcSyncFailed(Rtc*, int32 code) override { heard += "f" + std::to_string(code); }
    bool write(const tm& t) override
    {
        heard += "w" + std::to_string(t.tm_hour);
        return !refuse && Rtc::write(t);
    }
    std::string heard;
    bool refuse = false;
};

// The calls the seam recorded: "set" for a step, "adj" for a slew, with seconds and microseconds.
std::string recorded()
{
    std::string out;
    for (const ClockCall& c : ClockSeam::calls())
        out += std::string(out.empty() ? "" : ", ")
            + (ClockCall::ADJTIME == c.kind ? "adj " : "set ") + std::to_string(c.tv.tv_sec) + " "
            + std::to_string(c.tv.tv_usec);
    return out;
}

class ClockPolicyTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        _rtc.close();
        ClockSeam::reset();
        Time::setRtc(nullptr);
        unsetenv("QUILLO_SIM_RTC");
    }
    // What the device answers to RTC_RD_TIME, then a sync at NOW + 0.25 s.
    bool syncTo(const char* rtcTime)
    {
        ClockSeam::setNow({ NOW, 250000 });
        setenv("QUILLO_SIM_RTC_TIME", rtcTime, 1);
        _rtc.heard.clear();
        return _rtc.sync();
    }

    ScopedTz _tz { "America/New_York" };
    SystemRtc _rtc;
    StderrCapture _err;
};

} // namespace

TEST_F(ClockPolicyTest, StepsAreRecordedNeverCarriedOutAndARefusingRtcStopsAllButAClockFirstStep)
{
    EXPECT_FALSE(holdsClockCapability());
    const time_t before = ::time(nullptr);
    // Time::setCurrentTime steps first and writes the RTC (in UTC) whatever either answers.
    Time::setRtc(&_rtc);
    _rtc.refuse = true;
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    Time::setCurrentTime(Time(2009, 7, 1, 12, 0, 0));
    EXPECT_NEAR(before, ::time(nullptr), 5);
    EXPECT_FALSE(ClockPolicy::step({ NOW, 0 }, &_rtc));
    EXPECT_FALSE(ClockPolicy::slew({ 1, 0 }, &_rtc, NOW));
    _rtc.refuse = false;
    EXPECT_TRUE(ClockPolicy::slew({ 1, 0 }, &_rtc, NOW));
    EXPECT_EQ("w16w16w16w16", _rtc.heard);
    EXPECT_EQ("set 1246464000 0, adj 1 0", recorded());
    EXPECT_CHECK_FAILS(
        Time::setCurrentTime(Time(2009, 2, 30, 0, 0, 0)), "t.isValid()", "setCurrentTime");
}

TEST_F(ClockPolicyTest, CorrectionsAreWholeSecondsAndANonNegativeFraction)
{
    const auto parts = [](const timeval& tv) { return std::make_pair(tv.tv_sec, tv.tv_usec); };
    EXPECT_EQ(parts({ 5, 0 }), parts(ClockPolicy::wholeSecondCorrection(NOW + 5, { NOW, 0 })));
    EXPECT_EQ(
        parts({ -6, 1 }), parts(ClockPolicy::wholeSecondCorrection(NOW - 5, { NOW, 999999 })));
    EXPECT_EQ(parts({ -3, 750000 }), parts(ClockPolicy::correctionOf(-2.25)));
    EXPECT_EQ(parts({ NOW + 1, 0 }), parts(ClockPolicy::later({ NOW, 999999 }, 0.000001)));
}

TEST_F(ClockPolicyTest, SyncSlewsWithinAMinuteStepsBeyondAndTellsTheListenerWhichOrWhy)
{
    ASSERT_TRUE(_rtc.open());
    setenv("QUILLO_SIM_RTC_TIME", "2009-01-01 04:59:59", 1);
    EXPECT_EQ(Time(2008, 12, 31, 23, 59, 59), _rtc.getTime());
    // RTC time, failing call, what the listener hears and the calls: a slew within a minute.
    const struct {
        const char* rtcTime;
        int failing;
        const char* heard;
    } cases[] = { { "2009-07-01 15:59:30", -1, "s2 adj -31 750000" },
        { "2009-07-01 16:00:00", -1, "s3 adj -1 750000" },
        { "2009-07-01 16:00:59", -1, "s3 adj 58 750000" },
        { "2009-07-01 16:01:00", -1, "s1 set 1246464060 0" },
        { "2009-07-01T15:59:00", -1, "s0 set 1246463940 0" }, { "2009-02-31 12:00:00", -1, "f1 " },
        { "1970-01-01 00:00:00", -1, "s0 set 0 0" }, // the first second a clock can show
        { "2009-07-01 15:50:00", ClockCall::SETTIMEOFDAY, "f2 set 1246463400 0" },
        { "2009-07-01 16:00:10", ClockCall::ADJTIME, "f3 adj 9 750000" } };
    for (const auto& c : cases) {
        ClockSeam::reset();
        if (c.failing >= 0)
            ClockSeam::setError(static_cast<ClockCall::Kind>(c.failing), EPERM);
        EXPECT_EQ('s' == c.heard[0], syncTo(c.rtcTime)) << c.rtcTime;
        EXPECT_EQ(c.heard, _rtc.heard + " " + recorded()) << c.rtcTime;
        EXPECT_NE("", _err.take()) << c.rtcTime << ": every outcome is traced";
    }
    // No device, or one that cannot be read: the listener hears code 0 where it can.
    _rtc.close();
    ClockSeam::reset();
    setenv("QUILLO_SIM_RTC", "absent", 1);
    EXPECT_FALSE(_rtc.open());
    EXPECT_FALSE(syncTo("2009-07-01 16:00:00"));
    EXPECT_FALSE(_rtc.getTime().isValid());
    setenv("QUILLO_SIM_RTC", "broken", 1);
    ASSERT_TRUE(_rtc.open());
    _err.take();
    EXPECT_FALSE(_rtc.getTime().isValid());
    EXPECT_NE("", _err.take()) << "an unread clock is not traced";
    EXPECT_FALSE(syncTo("2009-07-01 16:00:00"));
    EXPECT_EQ("f0 ", _rtc.heard + " " + recorded());
}

TEST_F(ClockPolicyTest, StepByLandsOnTheClockReadPlusTheOffsetToTheMicrosecond)
{
    const std::pair<double, const char*> cases[]
        = { { 1.25, "set 1246464002 150000" }, { -0.95, "set 1246463999 950000" },
              { -86400.000001, "set 1246377600 899999" }, { std::nan(""), "" } };
    for (const auto& [offset, set] : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 900000 });
        EXPECT_EQ('\0' != *set, ClockPolicy::stepBy(offset)) << offset;
        EXPECT_EQ(set, recorded()) << offset;
    }
    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    EXPECT_FALSE(ClockPolicy::stepBy(1));
}

TEST_F(ClockPolicyTest, KernelSyncReadsTheUnsyncFlagAndTheMaximumError)
{
    for (const bool synchronised : { true, false }) {
        long maxError = -1;
        ClockSeam::setSynchronised(synchronised, synchronised ? 1500 : 7);
        EXPECT_EQ(synchronised ? ClockPolicy::SYNCHRONISED : ClockPolicy::UNSYNCHRONISED,
            ClockPolicy::kernelSync(&maxError));
        EXPECT_EQ(synchronised ? 1500 : 7, maxError);
    }
    ClockSeam::reset(); // the kernel itself answers a question without any privilege
    EXPECT_NE(ClockPolicy::UNKNOWN, ClockPolicy::kernelSync());
}
