#include "tool/Isl1208Trim.h"

#include <gtest/gtest.h>

namespace Kovan {
namespace {

TEST(Isl1208TrimTest, DecodesBothTrimmingsIgnoringTheOtherBits)
{
    // 4.50 pF the least, 12.50 pF, 20.25 pF the most; bits 6-7 trim in battery mode.
    // Register, analog trim in quarter pF, digital trim in ppm.
    const int cases[][3] = { { 0x20, 18, 0 }, { 0x00, 50, 0 }, { 0x1F, 81, -60 }, { 0xDF, 81, -60 },
        { 0x05, 55, -20 }, { 0x07, 57, -60 }, { 0x04, 54, 0 }, { 0xF9, 43, 20 } };
    for (const auto& c : cases) {
        EXPECT_EQ(c[1], isl1208AtrQuarterPf(uint8_t(c[0]))) << c[0];
        EXPECT_EQ(c[2], isl1208DtrPpm(uint8_t(c[0]))) << c[0];
    }
    for (int ppm = -60; ppm <= 60; ppm += 20) {
        uint8_t encoded = 0;
        ASSERT_TRUE(isl1208EncodeDtr(ppm, 0xF8, &encoded)) << ppm;
        EXPECT_EQ(ppm, isl1208DtrPpm(encoded));
        EXPECT_EQ(0xF8, encoded & 0xF8);
    }
    uint8_t untouched = 0xAA;
    for (int bad : { -80, -10, 30, 61 })
        EXPECT_FALSE(isl1208EncodeDtr(bad, 0, &untouched)) << bad;
    EXPECT_EQ(0xAA, untouched);
}

TEST(Isl1208TrimTest, ProposesTheSettingThatBestCancelsTheRate)
{
    const struct {
        double measured;
        int current, ppm;
        double residual;
    } cases[] = {
        { 47, 0, -40, 7 }, { 7, -40, -40, 7 }, { 52, 0, -60, -8 }, { -31, 0, 40, 9 },
        { 10, 0, 0, 10 }, // a tie keeps the current setting ...
        { 30, -20, -40, 10 }, // ... or takes the one nearer to it
        { 150, 60, -60, 30 }, // beyond the range: as far as it goes
    };
    for (const auto& c : cases) {
        const DtrProposal p = proposeIsl1208Dtr(c.measured, c.current);
        EXPECT_EQ(c.ppm, p.ppm) << c.measured << " at " << c.current;
        EXPECT_DOUBLE_EQ(c.residual, p.residualPpm) << c.measured << " at " << c.current;
    }
}

} // namespace
} // namespace Kovan
