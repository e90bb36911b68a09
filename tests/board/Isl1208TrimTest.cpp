#include "tool/Isl1208Trim.h"

#include <gtest/gtest.h>

namespace Kovan {
namespace {

TEST(Isl1208TrimTest, DecodesTheAnalogTrimmingAsLoadCapacitance)
{
    const struct {
        uint8_t atr;
        int quarterPf;
    } cases[] = {
        { 0x20, 18 }, // 4.50 pF, the least
        { 0x00, 50 }, // 12.50 pF
        { 0x1F, 81 }, // 20.25 pF, the most
        { 0x3F, 49 },
        { 0xC0, 50 }, // the battery-mode bits do not count
        { 0xDF, 81 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.quarterPf, isl1208AtrQuarterPf(c.atr)) << std::hex << int { c.atr };
}

TEST(Isl1208TrimTest, DigitalTrimmingRoundTripsAndKeepsTheOtherBits)
{
    const struct {
        uint8_t dtr;
        int ppm;
    } cases[] = {
        { 0x00, 0 },
        { 0x01, 20 },
        { 0x02, 40 },
        { 0x03, 60 },
        { 0x05, -20 },
        { 0x06, -40 },
        { 0x07, -60 },
        { 0x04, 0 },
        { 0xF9, 20 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ppm, isl1208DtrPpm(c.dtr)) << std::hex << int { c.dtr };
    for (int ppm = -60; ppm <= 60; ppm += 20) {
        uint8_t encoded = 0;
        ASSERT_TRUE(isl1208EncodeDtr(ppm, 0xF8, &encoded)) << ppm;
        EXPECT_EQ(0xF8, encoded & 0xF8);
        EXPECT_EQ(ppm, isl1208DtrPpm(encoded));
    }
    uint8_t encoded = 0xAA;
    for (int bad : { -80, -61, -10, 1, 30, 61, 80 })
        EXPECT_FALSE(isl1208EncodeDtr(bad, 0, &encoded)) << bad;
    EXPECT_EQ(0xAA, encoded);
}

TEST(Isl1208TrimTest, ProposesTheSettingThatBestCancelsTheRate)
{
    const struct {
        double measured;
        int current;
        int ppm;
        double residual;
    } cases[] = {
        { 47, 0, -40, 7 },
        { 7, -40, -40, 7 }, // already the best: left alone
        { 52, 0, -60, -8 },
        { -31, 0, 40, 9 },
        { 10, 0, 0, 10 }, // a tie between 0 and -20 keeps the current setting
        { 30, -20, -40, 10 }, // ... and otherwise takes the one nearer to it
        { -10, 0, 0, -10 },
        { 150, 0, -60, 90 }, // beyond the range: as far as it goes
        { 150, 60, -60, 30 },
        { -3, -60, -60, -3 },
    };
    for (const auto& c : cases) {
        const DtrProposal p = proposeIsl1208Dtr(c.measured, c.current);
        EXPECT_EQ(c.ppm, p.ppm) << c.measured << " at " << c.current;
        EXPECT_DOUBLE_EQ(c.residual, p.residualPpm) << c.measured << " at " << c.current;
    }
}

} // namespace
} // namespace Kovan
