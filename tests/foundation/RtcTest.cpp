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
    EXPECT_EQ(nullptr, Rtc::instance());
    {
        BenchRtc rtc;
        EXPECT_EQ(&rtc, Rtc::instance());
        EXPECT_CHECK_FAILS(BenchRtc second, "0 == Rtc::_instance", "Rtc");
        EXPECT_TRUE(rtc.writeUint32(0x10, 0x11223344u));
        // Little-endian whatever the machine.
        EXPECT_EQ(0, memcmp("\x44\x33\x22\x11", rtc.memory, 4));
        int64 i64 = 0;
        EXPECT_TRUE(rtc.writeInt64(0x48, -2) && rtc.readInt64(0x48, &i64));
        EXPECT_EQ(-2, i64);
        uint16 u16 = 0;
        EXPECT_TRUE(rtc.writeInt16(0x20, -300) && rtc.readUint16(0x20, &u16));
        EXPECT_EQ(65236, u16);

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
    EXPECT_EQ(nullptr, Rtc::instance());
}
