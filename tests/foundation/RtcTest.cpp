// The RTC wrapper through a device class of the tests: a scripted calendar and a data area in
// memory. Nothing here reaches the system clock: the clock-setting paths are in tests/foundation/
// clock, behind the clock seam.
#include "foundation/Rtc.h"

#include "foundation/Trace.h"
#include "support/StderrCapture.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;
using KovanTest::StderrCapture;

namespace {

tm calendar(int year, int month, int day, int hour, int minute, int second)
{
    tm t;
    memset(&t, 0, sizeof(t));
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// A chip with 64 bytes of data memory at 0x10..0x4F whose calendar the test scripts.
class BenchRtc : public Rtc {
public:
    BenchRtc() { setDataAddress(0x10, 0x4F); }

    bool readable = true;
    tm answer = calendar(2009, 1, 1, 0, 0, 0);
    int clockCalls = 0;
    unsigned char memory[0x40] = {};

    bool readData(uint32 address, void* data, uint32 size) override
    {
        if (!isInDataArea(address, size))
            return false;
        memcpy(data, memory + (address - BASE_DATA_ADDRESS), size);
        return true;
    }
    bool writeData(uint32 address, const void* data, uint32 size) override
    {
        if (!isInDataArea(address, size))
            return false;
        memcpy(memory + (address - BASE_DATA_ADDRESS), data, size);
        return true;
    }
    bool fillData(uint32 address, uint8 value, uint32 size) override
    {
        if (!isInDataArea(address, size))
            return false;
        memset(memory + (address - BASE_DATA_ADDRESS), value, size);
        return true;
    }
    bool setSystemClock(time_t) override
    {
        ++clockCalls;
        return true;
    }
    bool adjustSystemClock(time_t) override
    {
        ++clockCalls;
        return true;
    }

protected:
    bool read(tm* out) override
    {
        if (!readable)
            return false;
        *out = answer;
        out->tm_isdst = -1;
        return true;
    }
};

// Keeps what write() was given instead of the Linux behaviour (which ignores it).
class WritableRtc : public BenchRtc {
public:
    tm written;
    int writes = 0;

protected:
    bool write(const tm& t) override
    {
        written = t;
        ++writes;
        return true;
    }
};

// Writes its calls as trace lines, so their order against the library's lines can be checked.
class TracingListener : public Rtc::Listener {
public:
    void rtcSyncSucceeded(Rtc*, int32 code) override { trace("<succeeded %d>\n", code); }
    void rtcSyncFailed(Rtc*, int32 code) override { trace("<failed %d>\n", code); }
};

class ScopedTz {
public:
    explicit ScopedTz(const char* tz)
    {
        const char* old = getenv("TZ");
        _had = nullptr != old;
        if (_had)
            _old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz()
    {
        if (_had)
            setenv("TZ", _old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool _had;
    std::string _old;
};

} // namespace

TEST(RtcTest, OneInstanceAtATime)
{
    EXPECT_EQ(nullptr, Rtc::instance());
    {
        BenchRtc rtc;
        EXPECT_EQ(&rtc, Rtc::instance());
        EXPECT_EQ(nullptr, rtc.listener());
        EXPECT_CHECK_FAILS(BenchRtc second, "0 == Rtc::_instance", "Rtc");
    }
    EXPECT_EQ(nullptr, Rtc::instance());
    BenchRtc again;
    EXPECT_EQ(&again, Rtc::instance());
}

TEST(RtcTest, FailuresTellTheListenerBeforeTheTraceLine)
{
    BenchRtc rtc;
    TracingListener listener;
    rtc.setListener(&listener);
    EXPECT_EQ(&listener, rtc.listener());
    StderrCapture err;

    rtc.readable = false;
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ("<failed 0>\nreadRtc() failed(1)!\n", err.take());

    rtc.readable = true;
    rtc.answer = calendar(2009, 2, 31, 12, 0, 0);
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ("<failed 1>\ninvalid time: -1 (UTC)\n", err.take());

    rtc.answer = calendar(2009, 1, 1, 24, 0, 0);
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ("<failed 1>\ninvalid time: -1 (UTC)\n", err.take());
    EXPECT_EQ(0, rtc.clockCalls);

    // Without a listener only the lines remain.
    rtc.setListener(nullptr);
    rtc.readable = false;
    EXPECT_FALSE(rtc.sync());
    EXPECT_EQ("readRtc() failed(1)!\n", err.take());
}

TEST(RtcTest, SyncStepsWhenFarApartAndSlewsWhenClose)
{
    // Far enough from the one-minute boundary that the passing of real time cannot matter here;
    // the exact boundary and the traced values are checked behind the clock seam.
    BenchRtc rtc;
    TracingListener listener;
    rtc.setListener(&listener);
    StderrCapture err;
    const struct {
        long offset;
        const char* tag;
        const char* listenerLine;
    } cases[] = { { 3600, "Rtc : time was", "<succeeded 1>\n" },
        { -3600, "Rtc : time was", "<succeeded 0>\n" },
        { 30, "Rtc(adj) : time was", "<succeeded 3>\n" },
        { -30, "Rtc(adj) : time was", "<succeeded 2>\n" } };
    for (const auto& c : cases) {
        const time_t target = time(nullptr) + c.offset;
        gmtime_r(&target, &rtc.answer);
        EXPECT_TRUE(rtc.sync());
        const std::string out = err.take();
        EXPECT_EQ(0u, out.find(c.tag)) << out;
        EXPECT_NE(std::string::npos, out.find(" t=" + std::to_string(target) + ", ct=")) << out;
        EXPECT_EQ(out.size() - strlen(c.listenerLine), out.find(c.listenerLine)) << out;
    }
    EXPECT_EQ(4, rtc.clockCalls);
}

TEST(RtcTest, GetTimeGivesTheUtcInstantAsLocalTime)
{
    ScopedTz tz("Asia/Tokyo");
    BenchRtc rtc;
    rtc.answer = calendar(2009, 1, 1, 0, 0, 0);
    Time t = rtc.getTime();
    EXPECT_EQ(Time(2009, 1, 1, 9, 0, 0), t);

    StderrCapture err;
    rtc.readable = false;
    EXPECT_FALSE(rtc.getTime().isValid());
    EXPECT_EQ("readRtc() failed(2)!\n", err.take());

    // An impossible date is no instant: invalid rather than the last second of 1969.
    rtc.readable = true;
    rtc.answer = calendar(2009, 2, 30, 0, 0, 0);
    EXPECT_FALSE(rtc.getTime().isValid());
    EXPECT_EQ("", err.take());
}

TEST(RtcTest, LinuxDeviceNotOpenCannotBeRead)
{
    // The Linux read: without an open device every read fails.
    class ClosedRtc : public BenchRtc {
    protected:
        bool read(tm* out) override { return Rtc::read(out); }
    } rtc;
    StderrCapture err;
    EXPECT_FALSE(rtc.getTime().isValid());
    EXPECT_EQ("readRtc() failed(2)!\n", err.take());
}

TEST(RtcTest, SetWritesTheUtcBreakdown)
{
    ScopedTz tz("America/New_York");
    {
        WritableRtc rtc;
        StderrCapture err;
        // 2009-07-01 12:00 EDT = 16:00 UTC = 1246464000.
        EXPECT_TRUE(rtc.set(Time(2009, 7, 1, 12, 0, 0)));
        EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n", err.take());
        ASSERT_EQ(1, rtc.writes);
        EXPECT_EQ(109, rtc.written.tm_year);
        EXPECT_EQ(6, rtc.written.tm_mon);
        EXPECT_EQ(1, rtc.written.tm_mday);
        EXPECT_EQ(16, rtc.written.tm_hour);
        EXPECT_EQ(0, rtc.written.tm_min);
    }
    // The Linux device is read-only: the line, then success without touching anything.
    BenchRtc rtc;
    StderrCapture err;
    EXPECT_TRUE(rtc.set(Time(2009, 7, 1, 12, 0, 0)));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n", err.take());
    EXPECT_CHECK_FAILS(rtc.set(Time()), "isValid()", "operator time_t");
}

TEST(RtcTest, BcdConversions)
{
    EXPECT_EQ(59, Rtc::BCD_TO_DEC(0x59));
    EXPECT_EQ(0, Rtc::BCD_TO_DEC(0x00));
    EXPECT_EQ(99, Rtc::BCD_TO_DEC(0x99));
    EXPECT_EQ(0x59, Rtc::DEC_TO_BCD(59));
    EXPECT_EQ(0x07, Rtc::DEC_TO_BCD(7));
    EXPECT_EQ(0x99, Rtc::DEC_TO_BCD(99));
    EXPECT_EQ(0x23, Rtc::DEC_TO_BCD(123));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, Rtc::BCD_TO_DEC(Rtc::DEC_TO_BCD(v)));
}

TEST(RtcTest, TypedDataAccessorsStayInsideTheDataArea)
{
    BenchRtc rtc;
    EXPECT_TRUE(rtc.writeUint32(0x10, 0x11223344u));
    EXPECT_EQ(0x44, rtc.memory[0]);
    EXPECT_EQ(0x11, rtc.memory[3]);
    uint32 u32 = 0;
    EXPECT_TRUE(rtc.readUint32(0x10, &u32));
    EXPECT_EQ(0x11223344u, u32);

    EXPECT_TRUE(rtc.writeInt64(0x48, -2));
    int64 i64 = 0;
    EXPECT_TRUE(rtc.readInt64(0x48, &i64));
    EXPECT_EQ(-2, i64);
    EXPECT_TRUE(rtc.writeInt16(0x20, -300));
    int16 i16 = 0;
    EXPECT_TRUE(rtc.readInt16(0x20, &i16));
    EXPECT_EQ(-300, i16);
    uint16 u16 = 0;
    EXPECT_TRUE(rtc.readUint16(0x20, &u16));
    EXPECT_EQ(65236, u16);
    EXPECT_TRUE(rtc.writeInt8(0x30, -1));
    uint8 u8 = 0;
    EXPECT_TRUE(rtc.readUint8(0x30, &u8));
    EXPECT_EQ(255, u8);
    int8 i8 = 0;
    EXPECT_TRUE(rtc.readInt8(0x30, &i8));
    EXPECT_EQ(-1, i8);
    bool b = false;
    EXPECT_TRUE(rtc.readBool(0x30, &b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(rtc.writeBool(0x30, false));
    EXPECT_TRUE(rtc.readBool(0x30, &b));
    EXPECT_FALSE(b);
    EXPECT_TRUE(rtc.writeUint64(0x40, 0x0102030405060708ull));
    uint64 u64 = 0;
    EXPECT_TRUE(rtc.readUint64(0x40, &u64));
    EXPECT_EQ(0x0102030405060708ull, u64);
    EXPECT_TRUE(rtc.writeUint16(0x4E, 0xBEEF));
    EXPECT_TRUE(rtc.writeUint8(0x4F, 0x01));
    int32 i32 = 0;
    EXPECT_TRUE(rtc.writeInt32(0x2C, -123456));
    EXPECT_TRUE(rtc.readInt32(0x2C, &i32));
    EXPECT_EQ(-123456, i32);

    // One byte past either end, and a size that would wrap around, are refused untouched.
    u32 = 7;
    EXPECT_FALSE(rtc.readUint32(0x4D, &u32));
    EXPECT_EQ(7u, u32);
    EXPECT_FALSE(rtc.writeUint16(0x4F, 1));
    EXPECT_FALSE(rtc.writeUint8(0x0F, 1));
    EXPECT_FALSE(rtc.fillData(0x11, 0xAA, 0xFFFFFFFFu));
    EXPECT_TRUE(rtc.fillData(0x10, 0xAA, 0x40));
    EXPECT_EQ(0xAA, rtc.memory[0x3F]);
}
