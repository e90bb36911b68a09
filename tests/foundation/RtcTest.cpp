// The RTC wrapper through a device class of the tests: a scripted calendar and a data area in
// memory. Syncing the system clock is tested behind the clock seam (tests/foundation/clock).
#include "foundation/Rtc.h"

#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;
using KovanTest::StderrCapture;

namespace {

// A chip with 64 bytes of data memory at 0x10..0x4F whose calendar (UTC) the test scripts.
class BenchRtc : public Rtc {
public:
    BenchRtc() { setDataAddress(0x10, 0x4F); }

    bool readable = true;
    tm answer = {};
    tm written = {};
    int writes = 0;
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

protected:
    bool read(tm* out) override
    {
        *out = answer;
        return readable;
    }
    bool write(const tm& t) override
    {
        written = t;
        ++writes;
        return Rtc::write(t);
    }
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
}

TEST(RtcTest, GetTimeGivesTheUtcInstantAsLocalTime)
{
    KovanTest::ScopedTz tz("Asia/Tokyo");
    BenchRtc rtc;
    rtc.answer.tm_year = 109;
    rtc.answer.tm_mday = 1;
    EXPECT_EQ(Time(2009, 1, 1, 9, 0, 0), rtc.getTime());

    // An impossible date is no instant: invalid, not the last second of 1969.
    StderrCapture err;
    rtc.answer.tm_mday = 32;
    EXPECT_FALSE(rtc.getTime().isValid());
    rtc.readable = false;
    EXPECT_FALSE(rtc.getTime().isValid());
    EXPECT_EQ("readRtc() failed(2)!\n", err.take());
}

TEST(RtcTest, SetWritesTheUtcBreakdownOfTheLocalTime)
{
    KovanTest::ScopedTz tz("America/New_York");
    BenchRtc rtc;
    StderrCapture err;
    // 2009-07-01 12:00 EDT = 16:00 UTC = 1246464000; the Linux write reports success.
    EXPECT_TRUE(rtc.set(Time(2009, 7, 1, 12, 0, 0)));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n", err.take());
    ASSERT_EQ(1, rtc.writes);
    EXPECT_EQ(109, rtc.written.tm_year);
    EXPECT_EQ(6, rtc.written.tm_mon);
    EXPECT_EQ(16, rtc.written.tm_hour);
    EXPECT_CHECK_FAILS(rtc.set(Time()), "isValid()", "operator time_t");
}

TEST(RtcTest, BcdConversions)
{
    EXPECT_EQ(59, Rtc::BCD_TO_DEC(0x59));
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
    EXPECT_TRUE(rtc.writeInt64(0x48, -2));
    int64 i64 = 0;
    EXPECT_TRUE(rtc.readInt64(0x48, &i64));
    EXPECT_EQ(-2, i64);
    uint16 u16 = 0;
    EXPECT_TRUE(rtc.writeInt16(0x20, -300));
    EXPECT_TRUE(rtc.readUint16(0x20, &u16));
    EXPECT_EQ(65236, u16);
    int8 i8 = 0;
    bool b = false;
    EXPECT_TRUE(rtc.writeUint8(0x30, 0xFF));
    EXPECT_TRUE(rtc.readInt8(0x30, &i8));
    EXPECT_TRUE(rtc.readBool(0x30, &b));
    EXPECT_EQ(-1, i8);
    EXPECT_TRUE(b);
    EXPECT_TRUE(rtc.writeBool(0x4F, false));
    EXPECT_TRUE(rtc.readBool(0x4F, &b));
    EXPECT_FALSE(b);

    // One byte past either end, and a size that would wrap around, are refused untouched.
    uint32 u32 = 7;
    EXPECT_FALSE(rtc.readUint32(0x4D, &u32));
    EXPECT_EQ(7u, u32);
    EXPECT_FALSE(rtc.writeUint16(0x4F, 1));
    EXPECT_FALSE(rtc.writeUint8(0x0F, 1));
    EXPECT_FALSE(rtc.fillData(0x11, 0xAA, 0xFFFFFFFFu));
    EXPECT_TRUE(rtc.fillData(0x10, 0xAA, 0x40));
    EXPECT_EQ(0xAA, rtc.memory[0x3F]);
}
