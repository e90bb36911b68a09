// The RTC wrapper through a device class of the tests: a scripted calendar and a data area in
// memory. Syncing the system clock is tested behind the clock seam (tests/foundation/clock).
#include "foundation/Rtc.h"

#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// A chip with 64 bytes of data memory at 0x10..0x4F whose calendar (UTC) the test scripts.
class BenchRtc : public Rtc {
public:
    BenchRtc() { setDataAddress(0x10, 0x4F); }

    bool readable = true;
    tm answer = {}, written = {};
    int writes = 0;
    unsigned char memory[0x40] = {};

    bool readData(uint32 address, void* data, uint32 size) override
    {
        return at(address, size) && memcpy(data, at(address, size), size);
    }
    bool writeData(uint32 address, const void* data, uint32 size) override
    {
        return at(address, size) && memcpy(at(address, size), data, size);
    }
    bool fillData(uint32 address, uint8 value, uint32 size) override
    {
        return at(address, size) && memset(at(address, size), value, size);
    }

protected:
    unsigned char* at(uint32 address, uint32 size)
    {
        // The second test repeats the first in terms the optimiser can see.
        if (!isInDataArea(address, size) || size > sizeof(memory)
            || address - BASE_DATA_ADDRESS > sizeof(memory) - size)
            return nullptr;
        return memory + (address - BASE_DATA_ADDRESS);
    }
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

TEST(RtcTest, OneInstanceAtATimeAndItsTimeIsTheUtcInstantAsLocalTime)
{
    EXPECT_EQ(nullptr, Rtc::instance());
    {
        KovanTest::ScopedTz tz("Asia/Tokyo");
        BenchRtc rtc;
        EXPECT_EQ(&rtc, Rtc::instance());
        EXPECT_CHECK_FAILS(BenchRtc second, "0 == Rtc::_instance", "Rtc");
        rtc.answer.tm_year = 109;
        rtc.answer.tm_mday = 1;
        EXPECT_EQ(Time(2009, 1, 1, 9, 0, 0), rtc.getTime());

        // An impossible date is no instant: invalid, not the last second of 1969.
        KovanTest::StderrCapture err;
        rtc.answer.tm_mday = 32;
        EXPECT_FALSE(rtc.getTime().isValid());
        rtc.readable = false;
        EXPECT_FALSE(rtc.getTime().isValid());
        EXPECT_EQ("readRtc() failed(2)!\n", err.take());
    }
    EXPECT_EQ(nullptr, Rtc::instance());
}

TEST(RtcTest, SetWritesTheUtcBreakdownOfTheLocalTime)
{
    KovanTest::ScopedTz tz("America/New_York");
    BenchRtc rtc;
    KovanTest::StderrCapture err;
    // 2009-07-01 12:00 EDT = 16:00 UTC = 1246464000; the Linux write reports success.
    EXPECT_TRUE(rtc.set(Time(2009, 7, 1, 12, 0, 0)));
    EXPECT_EQ("Rtc::set(1246464000) Called!!!!!!!!\n", err.take());
    ASSERT_EQ(1, rtc.writes);
    EXPECT_EQ(1246464000, timegm(&rtc.written));
    EXPECT_CHECK_FAILS(rtc.set(Time()), "isValid()", "operator time_t");
}

TEST(RtcTest, BcdAndTypedDataStayInsideTheDataArea)
{
    EXPECT_EQ(0x23, Rtc::DEC_TO_BCD(123));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, Rtc::BCD_TO_DEC(Rtc::DEC_TO_BCD(v)));

    BenchRtc rtc;
    EXPECT_TRUE(rtc.writeUint32(0x10, 0x11223344u));
    EXPECT_TRUE(0x44 == rtc.memory[0] && 0x11 == rtc.memory[3]);
    int64 i64 = 0;
    EXPECT_TRUE(rtc.writeInt64(0x48, -2) && rtc.readInt64(0x48, &i64));
    EXPECT_EQ(-2, i64);
    uint16 u16 = 0;
    EXPECT_TRUE(rtc.writeInt16(0x20, -300) && rtc.readUint16(0x20, &u16));
    EXPECT_EQ(65236, u16);
    int8 i8 = 0;
    bool b = false;
    EXPECT_TRUE(rtc.writeUint8(0x30, 0xFF) && rtc.readInt8(0x30, &i8) && rtc.readBool(0x30, &b));
    EXPECT_TRUE(-1 == i8 && b);

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
