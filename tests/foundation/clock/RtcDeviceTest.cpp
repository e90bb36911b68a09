// Rtc::sync end to end through the Linux device code: "/dev/rtc" is the bench simulator's, whose
// answer to RTC_RD_TIME each test sets through QUILLO_SIM_RTC_TIME, and the clock calls land in
// the clock seam with "now" fixed, so every traced value is exact.
#include "support/ClockSeam.h"
#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include "foundation/Rtc.h"
#include "foundation/Trace.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>

using namespace Kovan;
using KovanTest::ClockCall;
using KovanTest::ClockSeam;

namespace {

// 2009-07-01 16:00:00 UTC, 12:00 in New York.
const time_t NOW = 1246464000;

// The Linux RTC with no data memory; open and close made reachable.
class SystemRtc : public Rtc {
public:
    using Rtc::close;
    using Rtc::open;
    bool readData(uint32, void*, uint32) override { return false; }
    bool writeData(uint32, const void*, uint32) override { return false; }
    bool fillData(uint32, uint8, uint32) override { return false; }
};

class TracingListener : public Rtc::Listener {
public:
    void rtcSyncSucceeded(Rtc*, int32 code) override { trace("<succeeded %d>\n", code); }
    void rtcSyncFailed(Rtc*, int32 code) override { trace("<failed %d>\n", code); }
};

std::string withTimes(const char* head, long t)
{
    return std::string(head) + "t=" + std::to_string(t) + ", ct=" + std::to_string(NOW) + "\n";
}

class RtcDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char logName[] = "/tmp/kovan-rtc-log-XXXXXX";
        const int fd = mkstemp(logName);
        ASSERT_GE(fd, 0);
        ::close(fd);
        _log = logName;
        setenv("QUILLO_SIM_LOG", _log.c_str(), 1);
        unsetenv("QUILLO_SIM_RTC");
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 250000 });
        _rtc.setListener(&_listener);
    }
    void TearDown() override
    {
        _rtc.close();
        ClockSeam::reset();
        unlink(_log.c_str());
        for (const char* name : { "QUILLO_SIM_LOG", "QUILLO_SIM_RTC", "QUILLO_SIM_RTC_TIME" })
            unsetenv(name);
    }
    // Sets what the device answers to RTC_RD_TIME, then syncs.
    bool syncTo(const char* rtcTime)
    {
        setenv("QUILLO_SIM_RTC_TIME", rtcTime, 1);
        return _rtc.sync();
    }
    std::string log()
    {
        std::ifstream in(_log);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    KovanTest::ScopedTz _tz { "America/New_York" };
    std::string _log;
    SystemRtc _rtc;
    TracingListener _listener;
    KovanTest::StderrCapture _err;
};

} // namespace

TEST_F(RtcDeviceTest, SyncSlewsWithinAMinuteAndStepsBeyond)
{
    ASSERT_TRUE(_rtc.open());
    const char* stepped = "Rtc : time was synchronised successfully: ";
    const char* slewed = "Rtc(adj) : time was synchronised successfully: ";
    const struct {
        const char* rtcTime;
        long offset;
        const char* line;
        int code;
        ClockCall::Kind kind;
        long seconds;
        long microseconds;
    } cases[] = {
        { "2009-07-01 16:00:30", 30, slewed, 3, ClockCall::ADJTIME, 29, 750000 },
        { "2009-07-01 15:59:30", -30, slewed, 2, ClockCall::ADJTIME, -31, 750000 },
        { "2009-07-01 16:00:00", 0, slewed, 3, ClockCall::ADJTIME, -1, 750000 },
        { "2009-07-01 16:00:59", 59, slewed, 3, ClockCall::ADJTIME, 58, 750000 },
        { "2009-07-01 16:01:00", 60, stepped, 1, ClockCall::SETTIMEOFDAY, NOW + 60, 0 },
        { "2009-07-01T15:59:00", -60, stepped, 0, ClockCall::SETTIMEOFDAY, NOW - 60, 0 },
    };
    for (const auto& c : cases) {
        ClockSeam::reset();
        ClockSeam::setNow({ NOW, 250000 });
        EXPECT_TRUE(syncTo(c.rtcTime)) << c.rtcTime;
        EXPECT_EQ(
            withTimes(c.line, NOW + c.offset) + "<succeeded " + std::to_string(c.code) + ">\n",
            _err.take());
        const auto calls = ClockSeam::calls();
        ASSERT_EQ(1u, calls.size()) << c.rtcTime;
        EXPECT_EQ(c.kind, calls[0].kind) << c.rtcTime;
        EXPECT_EQ(c.seconds, calls[0].tv.tv_sec) << c.rtcTime;
        EXPECT_EQ(c.microseconds, calls[0].tv.tv_usec) << c.rtcTime;
    }
    // The answers really came from the simulated device.
    EXPECT_NE(std::string::npos, log().find("rtc RTC_RD_TIME 2009-07-01 15:59:00\n"));
}

TEST_F(RtcDeviceTest, FailedSyncsAreReportedInTheirOrder)
{
    // Before the clock is touched the listener hears first; afterwards the line comes first.
    setenv("QUILLO_SIM_RTC", "absent", 1);
    EXPECT_FALSE(_rtc.open());
    EXPECT_FALSE(_rtc.sync());
    EXPECT_FALSE(_rtc.getTime().isValid());
    EXPECT_EQ("<failed 0>\nreadRtc() failed(1)!\nreadRtc() failed(2)!\n", _err.take());
    setenv("QUILLO_SIM_RTC", "broken", 1);
    ASSERT_TRUE(_rtc.open());
    EXPECT_FALSE(_rtc.sync());
    EXPECT_EQ("<failed 0>\nreadRtc() failed(1)!\n", _err.take());

    unsetenv("QUILLO_SIM_RTC");
    EXPECT_FALSE(syncTo("2009-02-31 12:00:00"));
    EXPECT_FALSE(_rtc.getTime().isValid());
    EXPECT_EQ("<failed 1>\ninvalid time: -1 (UTC)\n", _err.take());
    EXPECT_TRUE(ClockSeam::calls().empty());

    ClockSeam::setError(ClockCall::SETTIMEOFDAY, EPERM);
    EXPECT_FALSE(syncTo("2009-07-01 15:50:00"));
    EXPECT_EQ(
        withTimes("Rtc : failed to set the local time: ", NOW - 600) + "<failed 2>\n", _err.take());
    ClockSeam::setError(ClockCall::ADJTIME, EPERM);
    EXPECT_FALSE(syncTo("2009-07-01 16:00:10"));
    EXPECT_EQ("Rtc(adj) : failed to set the local time\n<failed 3>\n", _err.take());
}

TEST_F(RtcDeviceTest, GetTimeAndSetThroughTheDevice)
{
    ASSERT_TRUE(_rtc.open());
    setenv("QUILLO_SIM_RTC_TIME", "2009-01-01 04:59:59", 1);
    EXPECT_EQ(Time(2008, 12, 31, 23, 59, 59), _rtc.getTime());
    // The device is read-only: set traces and succeeds without a request to it.
    const std::string before = log();
    EXPECT_TRUE(_rtc.set(Time(2009, 7, 1, 12, 0, 0)));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n", _err.take());
    EXPECT_EQ(before, log());
}
