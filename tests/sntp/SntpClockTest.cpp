// SntpTime's system-clock access through the clock seam: the step, the slew aimed at the
// target's whole second, and the registered Rtc written first and able to veto the change.
#include "support/ClockSeam.h"
#include "support/StderrCapture.h"

#include "foundation/Rtc.h"
#include "sntp/SntpTime.h"

#include <cerrno>
#include <gtest/gtest.h>

using Kovan::SntpTime;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;

namespace {

// An RTC whose write the test controls; the data area is not used here.
class ScriptedRtc : public Kovan::Rtc {
public:
    bool accept = true;
    int writes = 0;
    bool readData(Kovan::uint32, void*, Kovan::uint32) override { return false; }
    bool writeData(Kovan::uint32, const void*, Kovan::uint32) override { return false; }
    bool fillData(Kovan::uint32, Kovan::uint8, Kovan::uint32) override { return false; }

protected:
    bool write(const tm&) override
    {
        ++writes;
        return accept;
    }
};

class SntpClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(KovanTest::holdsClockCapability());
        ClockSeam::reset();
    }
    void TearDown() override
    {
        SntpTime::setRtc(nullptr);
        ClockSeam::reset();
    }
};

} // namespace

TEST_F(SntpClockTest, CurrentTimeAndTheStepKeepTheMillisecond)
{
    ClockSeam::setNow({ 1700000000, 123456 });
    const SntpTime now = SntpTime::currentTime();
    EXPECT_EQ(1700000000u + 2208988800u, now.seconds());
    EXPECT_EQ(SntpTime::msToNtpFraction(123), now.fraction());

    EXPECT_TRUE(SntpTime::setCurrentTime(SntpTime(timeval { 1700000100, 250000 })));
    ASSERT_EQ(1u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
    EXPECT_EQ(1700000100, ClockSeam::calls()[0].tv.tv_sec);
    EXPECT_EQ(250000, ClockSeam::calls()[0].tv.tv_usec);

    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    KovanTest::StderrCapture capture;
    EXPECT_FALSE(SntpTime::setCurrentTime(SntpTime(timeval { 1700000100, 0 })));
    EXPECT_EQ("", capture.take());
}

TEST_F(SntpClockTest, SlewAimsAtTheTargetsWholeSecond)
{
    struct Case {
        timeval now, target, expected;
    } cases[] = {
        { { 100, 250000 }, { 160, 900000 }, { 59, 750000 } }, // the target's fraction is ignored
        { { 100, 0 }, { 160, 0 }, { 60, 0 } }, // on a whole second: no microseconds
        { { 100, 250000 }, { 98, 0 }, { -3, 750000 } }, // -2.25 s: microseconds stay positive
    };
    for (const Case& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow(c.now);
        KovanTest::StderrCapture capture;
        EXPECT_TRUE(SntpTime::adjustCurrentTime(SntpTime(c.target)));
        const int sec = static_cast<int>(c.expected.tv_sec);
        const int usec = static_cast<int>(c.expected.tv_usec);
        char expected[200];
        snprintf(expected, sizeof(expected),
            "Sntp::adjustCurrentTime Called! tv: %d, %d\n"
            "adjtime success! syncronizing time to : %d, %d\n",
            sec, usec, sec, usec);
        EXPECT_EQ(expected, capture.take());
        ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
        EXPECT_EQ(sec, ClockSeam::calls()[0].tv.tv_sec);
        EXPECT_EQ(usec, ClockSeam::calls()[0].tv.tv_usec);
    }

    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    KovanTest::StderrCapture capture;
    EXPECT_FALSE(SntpTime::adjustCurrentTime(SntpTime(timeval { 200, 0 })));
    EXPECT_EQ("Sntp::adjustCurrentTime Called! tv: 99, 750000\n", capture.take());
}

TEST_F(SntpClockTest, TheRegisteredRtcIsWrittenFirstAndCanRefuse)
{
    ScriptedRtc rtc;
    SntpTime::setRtc(&rtc);
    for (bool accept : { true, false }) {
        rtc.accept = accept;
        ClockSeam::reset();
        ClockSeam::setNow({ 1700000000, 0 });
        KovanTest::StderrCapture capture;
        EXPECT_EQ(accept, SntpTime::setCurrentTime(SntpTime(timeval { 1700000500, 0 })));
        EXPECT_EQ(accept, SntpTime::adjustCurrentTime(SntpTime(timeval { 1700000030, 0 })));
        const std::string traced = capture.take();
        EXPECT_NE(std::string::npos, traced.find("Rtc::set(1700000500) Called!!!!!!!!\n"))
            << traced;
        EXPECT_NE(std::string::npos, traced.find("Rtc::set(1700000030) Called!!!!!!!!\n"))
            << traced;
        // A refusal leaves the system clock alone, both ways.
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::ADJTIME));
    }
    EXPECT_EQ(4, rtc.writes);
}
