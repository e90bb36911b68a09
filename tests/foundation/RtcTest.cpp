// The RTC's one-instance rule and its data area, through a device class with the data memory in
// RAM. The clock itself is tested through the simulated "/dev/rtc" (tests/foundation/clock).
#include "foundation/Rtc.h"

#include "support/StderrCapture.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// 64 bytes of data memory at 0x10..0x4F.
struct BenchRtc : Rtc {
    BenchRtc() { setDataAddress(0x10, 0x4F); }
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
    unsigned char* at(uint32 address, uint32 size)
    {
        // The second test repeats the first in terms the optimiser can see.
        if (!isInDataArea(address, size) || size > sizeof(memory)
            || address - BASE_DATA_ADDRESS > sizeof(memory) - size)
            return nullptr;
        return memory + (address - BASE_DATA_ADDRESS);
    }
    unsigned char memory[0x40] = {};
};

} // namespace

TEST(RtcTest, OneInstanceAtATimeAndTypedDataStaysInsideTheDataArea)
{
    EXPECT_EQ(0x23, Rtc::DEC_TO_BCD(123));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, Rtc::BCD_TO_DEC(Rtc::DEC_TO_BCD(v)));

    EXPECT_EQ(nullptr, Rtc::instance());
    {
        BenchRtc rtc;
        EXPECT_EQ(&rtc, Rtc::instance());
        EXPECT_CHECK_FAILS(BenchRtc second, "0 == Rtc::_instance", "Rtc");
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
        EXPECT_TRUE(
            rtc.writeUint8(0x30, 0xFF) && rtc.readInt8(0x30, &i8) && rtc.readBool(0x30, &b));
        EXPECT_TRUE(-1 == i8 && b);

        // One byte past either end, and a size that would wrap around, are refused untouched.
        uint32 u32 = 7;
        EXPECT_FALSE(rtc.readUint32(0x4D, &u32));
        EXPECT_EQ(7u, u32);
        EXPECT_FALSE(rtc.writeUint16(0x4F, 1) || rtc.writeUint8(0x0F, 1));
        EXPECT_FALSE(rtc.fillData(0x11, 0xAA, 0xFFFFFFFFu));
        EXPECT_TRUE(rtc.fillData(0x10, 0xAA, 0x40));
        EXPECT_EQ(0xAA, rtc.memory[0x3F]);
    }
    EXPECT_EQ(nullptr, Rtc::instance());
}
