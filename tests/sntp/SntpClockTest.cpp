// SntpTime's clock access through the clock seam: step, slew, and the Rtc that may veto both.
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
    void SetUp() override { ASSERT_FALSE(KovanTest::holdsClockCapability()); }
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
        const std::string tv
            = std::to_string(c.expected.tv_sec) + ", " + std::to_string(c.expected.tv_usec);
        EXPECT_EQ("Sntp::adjustCurrentTime Called! tv: " + tv
                + "\nadjtime success! syncronizing time to : " + tv + "\n",
            capture.take());
        ASSERT_EQ(1u, ClockSeam::count(ClockCall::ADJTIME));
        EXPECT_EQ(c.expected.tv_sec, ClockSeam::calls()[0].tv.tv_sec);
        EXPECT_EQ(c.expected.tv_usec, ClockSeam::calls()[0].tv.tv_usec);
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
        for (const char* line :
            { "Rtc::set(1700000500) Called!!!!!!!!\n", "Rtc::set(1700000030) Called!!!!!!!!\n" })
            EXPECT_NE(std::string::npos, traced.find(line)) << traced;
        // A refusal leaves the system clock alone, both ways.
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::SETTIMEOFDAY));
        EXPECT_EQ(accept ? 1u : 0u, ClockSeam::count(ClockCall::ADJTIME));
    }
    EXPECT_EQ(4, rtc.writes);
}
