// The drift run's fit against least squares worked out by hand, and the frame of its plot.
#include "tool/RtcDrift.h"

#include "BenchRunner.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

TEST(RtcDriftTest, FitWeighsEachSampleByItsUncertainty)
{
    struct Case {
        std::vector<DriftSample> samples;
        bool rate, uncertainty;
        double offsetMs, ppm, ppmError;
    };
    const Case cases[] = {
        { {}, false, false, 0, 0, 0 },
        { { { 5, 3, 1 } }, false, false, 3, 0, 0 },
        { { { 5, 1, 1 }, { 5, 3, 1 } }, false, false, 2, 0, 0 }, // one instant: no rate
        { { { 0, 1, 1 }, { 10, 2, 1 } }, true, false, 2, 100, 0 },
        { { { 0, 2, 1 }, { 10, 8.5, 1 }, { 20, 12, 1 } }, true, true, 12.5, 500, 86.6025 },
        // The middle sample counts 100 times as much (its 0.05 ms taken as the 0.1 ms floor).
        { { { 0, 2, 1 }, { 10, 8.5, 0.05 }, { 20, 12, 1 } }, true, true, 13.4706, 500, 148.5221 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offsetMs);
        const DriftFit fit = fitDrift(c.samples);
        EXPECT_EQ(int(c.samples.size()), fit.samples);
        EXPECT_EQ(
            c.samples.empty() ? 0 : c.samples.back().elapsed - c.samples[0].elapsed, fit.duration);
        EXPECT_NEAR(c.offsetMs, fit.offsetMs, 1e-4);
        EXPECT_EQ(c.rate, fit.hasRate);
        EXPECT_NEAR(c.ppm, fit.ratePpm, 1e-6);
        EXPECT_EQ(c.uncertainty, fit.hasUncertainty);
        EXPECT_NEAR(c.ppmError, fit.rateUncertaintyPpm, 1e-4);
    }
}

TEST(RtcDriftTest, PlotFramesTheSamplesWithAMarginOfATenth)
{
    const std::string path = testing::TempDir() + "drift.svg";
    const std::vector<DriftSample> samples = { { 0, -10, 1 }, { 10, 5, 1 }, { 20, 30, 1 } };
    ASSERT_TRUE(plotDrift(path.c_str(), samples, fitDrift(samples)));
    // Offsets -14..34 over 360 pixels from y 40, times 0..20 s over 700 from x 80.
    for (const char* part :
        { ">34.000<", ">-14.000<", ">0.0<", ">20.0<", ": +28.333 ms, +2000.0 ppm",
            "<circle cx=\"80.0\" cy=\"370.0\"", "<circle cx=\"780.0\" cy=\"70.0\"" })
        EXPECT_NE(std::string::npos, KovanTest::readFile(path).find(part)) << part;
    // A flat run gets a millisecond either way.
    ASSERT_TRUE(plotDrift(path.c_str(), { { 0, 3, 1 } }, fitDrift({ { 0, 3, 1 } })));
    EXPECT_TRUE(std::regex_search(KovanTest::readFile(path), std::regex(">4.000<[^]*>2.000<")));
    EXPECT_FALSE(plotDrift("/nonexistent/drift.svg", samples, fitDrift(samples)));
}

} // namespace
