// The chip helpers' encodings; their transfers and line format are checked end to end on the
// simulated bench (QuilloBenchTest).
#include "tool/RtcChip.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

TEST(RtcChipTest, FlipByteOrderMovesBitIToBit7MinusI)
{
    for (int b = 0; b < 256; ++b) {
        unsigned char byte = static_cast<unsigned char>(b);
        flipByteOrder(&byte);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ((b >> i) & 1, (byte >> (7 - i)) & 1) << b;
    }
}

TEST(RtcChipTest, BcdEncodings)
{
    EXPECT_EQ(0x59, DEC_TO_BCD(59));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, BCD_TO_DEC(DEC_TO_BCD(v)));
    // Out of range values are cut to 8 bits without complaint.
    EXPECT_EQ(0xC3, DEC_TO_BCD(123));
    EXPECT_EQ(123, BCD_TO_DEC(0xC3));
    EXPECT_EQ(0xFB, DEC_TO_BCD(-5));
}

} // namespace
