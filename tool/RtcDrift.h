// quillo-rtc's arithmetic that needs no bus: the least-squares fit of a drift run and its plot.
#pragma once

#include <cstdio>
#include <vector>

namespace Kovan {

// One drift sample: seconds since the first sample (server time), the chip's offset in ms, and
// how far that offset may be off (ms; the fit weighs each sample by its inverse square).
struct DriftSample {
    double elapsed;
    double offsetMs;
    double uncertaintyMs;
};

// Offset = intercept + slope * elapsed, fitted by weighted least squares. With one sample the slope
// is unknown (`hasRate` false); with two its uncertainty is (`hasUncertainty` false).
struct DriftFit {
    int samples = 0;
    double duration = 0; // seconds from the first sample to the last
    double offsetMs = 0; // the fitted offset at the last sample (the measured one when alone)
    bool hasRate = false;
    double ratePpm = 0; // slope in ms/s is ppm / 1000
    bool hasUncertainty = false;
    double rateUncertaintyPpm = 0; // one standard error of the slope
    double interceptMs = 0;
};

DriftFit fitDrift(const std::vector<DriftSample>& samples);

// One seen change of the chip's seconds: it happened between `low` and `high` (system seconds),
// to the chip's second `count` (seconds since 1970).
struct EdgeBracket {
    double low, high;
    long long count;
};

// The last edge of a chip whose seconds last between `shortest` and `longest` system seconds,
// from every bracket at once: edge i lies at the last edge less (count_last - count_i) seconds
// of the chip, so each bracket narrows the others, and one stretched read (a busy machine) costs
// only its own bound. False when the brackets disagree.
bool combineEdges(const std::vector<EdgeBracket>& edges, double shortest, double longest,
    double* edge, double* halfWidth);

// An SVG drawing of the samples and the fitted line; false when the file cannot be written.
bool plotDrift(const char* path, const std::vector<DriftSample>& samples, const DriftFit& fit);

} // namespace Kovan
