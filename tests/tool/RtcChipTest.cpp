// The chip helpers' encodings; their transfers and line format are checked end to end on the
// simulated bench (QuilloBenchTest).
#include "tool/RtcChip.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

unsigned char flipped(unsigned char byte)
{
    flipByteOrder(&byte);
    return byte;
}

TEST(RtcChipTest, FlipByteOrderMirrorsTheBits)
{
    const unsigned char cases[][2] = { { 0x01, 0x80 }, { 0x02, 0x40 }, { 0xC0, 0x03 },
        { 0xA5, 0xA5 }, { 0x31, 0x8C }, { 0x00, 0x00 }, { 0xFF, 0xFF }, { 0x0F, 0xF0 } };
    for (const auto& c : cases)
        EXPECT_EQ(c[1], flipped(c[0])) << int(c[0]);
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        EXPECT_EQ(byte, flipped(flipped(byte)));
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ((b >> i) & 1, (flipped(byte) >> (7 - i)) & 1);
    }
}

TEST(RtcChipTest, BcdEncodings)
{
    EXPECT_EQ(0x59, DEC_TO_BCD(59));
    EXPECT_EQ(59, BCD_TO_DEC(0x59));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, BCD_TO_DEC(DEC_TO_BCD(v)));
    // Out of range values are cut to 8 bits without complaint.
    EXPECT_EQ(0xC3, DEC_TO_BCD(123));
    EXPECT_EQ(123, BCD_TO_DEC(0xC3));
    EXPECT_EQ(0xFB, DEC_TO_BCD(-5));
    EXPECT_EQ(0x95, DEC_TO_BCD(255));
}

} // namespace
