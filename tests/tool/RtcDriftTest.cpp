// The drift run's fit against least squares worked out by hand, and the frame of its plot.
#include "tool/RtcDrift.h"

#include "support/BenchRunner.h"

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
        EXPECT_EQ(c.rate, fit.hasRate);
        EXPECT_EQ(c.uncertainty, fit.hasUncertainty);
        EXPECT_NEAR(c.offsetMs, fit.offsetMs, 1e-4);
        EXPECT_NEAR(c.ppm, fit.ratePpm, 1e-6);
        EXPECT_NEAR(c.ppmError, fit.rateUncertaintyPpm, 1e-4);
    }
}

std::string plot(const std::vector<DriftSample>& samples)
{
    const std::string path = testing::TempDir() + "drift.svg";
    FILE* f = fopen(path.c_str(), "w");
    EXPECT_TRUE(plotDrift(f, samples, fitDrift(samples)));
    (void)fclose(f);
    return KovanTest::readFile(path);
}

TEST(RtcDriftTest, PlotLabelsItsTicksAndDrawsEachUncertainty)
{
    // Offsets -10..30 ms with bars of 1 ms and a fitted line from -11.667 ms, then a margin of a
    // tenth: -15.93..35.27 ms over 376 pixels, ticks every 10 ms. Times 0..20 s and 3% either side
    // over 690 pixels from x 90, ticks every 5 s.
    const std::string svg = plot({ { 0, -10, 1 }, { 10, 5, 1 }, { 20, 30, 1 } });
    for (const char* part : { ">-10<", ">30<", ">0<", ">5<", ">20<",
             ">fit: +2000.000 &#177; 288.675 ppm, +28.333 ms at the end<", "<circle cx=\"109.5\"",
             "<circle cx=\"760.5\"", ">3 samples" })
        EXPECT_NE(std::string::npos, svg.find(part)) << part;
    for (const char* absent : { ">-20<", ">40<", ">25<" })
        EXPECT_EQ(std::string::npos, svg.find(absent)) << absent;
    // One bar per sample, each as tall as twice its uncertainty (14.7 pixels).
    const std::regex bar("M[0-9.]+ ([0-9.]+) V([0-9.]+) M");
    int bars = 0;
    for (auto i = std::sregex_iterator(svg.begin(), svg.end(), bar); i != std::sregex_iterator();
         ++i, ++bars)
        EXPECT_NEAR(2 * 376 / (35.27 + 15.93), std::stod((*i)[2]) - std::stod((*i)[1]), 0.1);
    EXPECT_EQ(3, bars);
    // A flat run gets a millisecond either way, and a fit with no rate says so.
    EXPECT_NE(std::string::npos, plot({ { 0, 3, 0.1 } }).find("rate unknown"));
    EXPECT_TRUE(std::regex_search(plot({ { 0, 3, 0.1 } }), std::regex(">2.0<[^]*>4.0<")));
}

TEST(RtcDriftTest, TickStepsAreOneTwoOrFiveTimesAPowerOfTen)
{
    const double cases[][3] = { { 100, 8, 20 }, { 48, 8, 10 }, { 50.4, 8, 10 }, { 1, 8, 0.2 },
        { 0.003, 8, 0.0005 }, { 7, 7, 1 }, { 0, 8, 1 } };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c[2], tickStep(c[0], static_cast<int>(c[1]))) << c[0];
}

// Brackets whose intersections are worked out by hand: each bracket shifted by the chip seconds
// between it and the last edge, for every second length allowed.
TEST(RtcDriftTest, CombineEdgesIntersectsEveryBracket)
{
    const struct {
        std::vector<EdgeBracket> edges;
        double shortest, longest;
        bool agree;
        double edge, halfWidth; // -1 when they disagree
    } cases[] = {
        { {}, 0.5, 2, false, -1, -1 },
        { { { 10.0, 10.2, 100 } }, 0.5, 2, true, 10.1, 0.1 },
        // The second bracket lies wholly within the first one's reach: it stands.
        { { { 10.0, 10.2, 100 }, { 11.1, 11.15, 101 } }, 0.998, 1.002, true, 11.125, 0.025 },
        // Seconds of exactly 1 s: each bracket cuts the other.
        { { { 10.0, 10.05, 100 }, { 11.03, 11.2, 101 } }, 1, 1, true, 11.04, 0.01 },
        // Two chip seconds on, with seconds of 0.99 to 1.01 s: 11.98..12.12 against 12.0..12.02.
        { { { 10.0, 10.1, 100 }, { 12.0, 12.02, 102 } }, 0.99, 1.01, true, 12.01, 0.01 },
        // Half a second off for a chip that keeps its seconds to 0.2%: no length fits both.
        { { { 10.0, 10.01, 100 }, { 11.5, 11.51, 101 } }, 0.998, 1.002, false, -1, -1 },
    };
    for (const auto& c : cases) {
        double edge = -1, halfWidth = -1;
        EXPECT_EQ(c.agree, combineEdges(c.edges, c.shortest, c.longest, &edge, &halfWidth))
            << c.edges.size() << " " << c.edge;
        EXPECT_NEAR(c.edge, edge, 1e-4) << c.edge;
        EXPECT_NEAR(c.halfWidth, halfWidth, 1e-4) << c.edge;
    }
}

} // namespace
