#include "foundation/Rtc.h"

#include "support/StderrCapture.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace Kovan;

namespace {

struct BenchRtc : Rtc {
    BenchRtc() { setDataAddress(0x10, 0x4F); }
    bool readData(uint32 a, void* d, uint32 n) override
    {
        return at(a, n) && memcpy(d, at(a, n), n);
    }
    bool writeData(uint32 a, const void* d, uint32 n) override
    {
        return at(a, n) && memcpy(at(a, n), d, n);
    }
    bool fillData(uint32 a, uint8 v, uint32 n) override
    {
        return at(a, n) && memset(at(a, n), v, n);
    }
    uint8* at(uint32 a, uint32 n) { return isInDataArea(a, n) ? memory + (a - 0x10) : nullptr; }
    uint8 memory[0x40] = {};
};

} // namespace

TEST(RtcTest, OneInstanceAtATimeTypedDataStaysInsideTheDataAreaAndBcdKeepsTwoDigits)
{
    EXPECT_EQ(nullptr, Rtc::instance());
    {
        BenchRtc rtc;
        EXPECT_EQ(&rtc, Rtc::instance());
        EXPECT_CHECK_FAILS(BenchRtc second, "0 == Rtc::_instance", "Rtc");
        EXPECT_TRUE(rtc.writeUint32(0x10, 0x11223344u));
        EXPECT_EQ(0, memcmp("\x44\x33\x22\x11", rtc.memory, 4)) << "little-endian on any machine";
        uint64 u64 = 0;
        EXPECT_TRUE(rtc.writeInt64(0x48, -300) && rtc.readUint64(0x48, &u64));
        EXPECT_EQ(0xFFFFFFFFFFFFFED4u, u64);
        // One byte past either end, and a size that would wrap around, are refused untouched.
        uint32 u32 = 7;
        EXPECT_FALSE(rtc.readUint32(0x4D, &u32));
        EXPECT_EQ(7u, u32);
        EXPECT_FALSE(rtc.writeUint16(0x4F, 1));
        EXPECT_FALSE(rtc.writeUint8(0x0F, 1));
        EXPECT_FALSE(rtc.fillData(0x11, 0xAA, 0xFFFFFFFFu));
        EXPECT_TRUE(rtc.fillData(0x10, 0xAA, 0x40));
        EXPECT_EQ(0xAA, rtc.memory[0x3F]);
        EXPECT_EQ(0x59, Rtc::DEC_TO_BCD(159));
        EXPECT_EQ(0x91, Rtc::DEC_TO_BCD(-5));
        EXPECT_EQ(99, Rtc::BCD_TO_DEC(0x99));
    }
    EXPECT_EQ(nullptr, Rtc::instance());
}
