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

// An SVG drawing of the samples and the fitted line; false when the file cannot be written.
bool plotDrift(const char* path, const std::vector<DriftSample>& samples, const DriftFit& fit);

} // namespace Kovan
