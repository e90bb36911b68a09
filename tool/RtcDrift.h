// quillo-rtc's drift measurement: the search for the chip's second edges, the arithmetic that
// narrows them, the least-squares fit of a run, and its plot.
#pragma once

#include "tool/ChipModel.h"

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

class ChipBus;

// A change of the chip's second: the system time it happened at (to within `halfWidth`) and the
// calendar it changed to, which the chip holds from exactly then.
struct Edge {
    double system = 0; // 0: none found
    double halfWidth = 0;
    unsigned char fields[CALENDAR_SIZE] = {};
};

// Finds the chip's next edge: by reading every 0.2 ms within `window` of `predicted` (0: no
// prediction), else by a coarse search every 10 ms. A busy machine can stretch a read over
// milliseconds: then the next edges are seen too, and all of them are combined (combineEdges)
// into the last one, until it is known to a millisecond or eight have been seen. `second` is the
// chip's second in system seconds when its rate is known, else 0. Ctrl-C ends the search with
// the best edge found so far. A chip whose seconds do not change for 2.5 s is a Failure.
Edge findEdge(ChipBus& bus, double predicted, double window, double second, bool utc);

// An SVG drawing of the samples with their uncertainties, the fitted line, tick labels and a
// grid, written to `f`; false when it cannot be written.
bool plotDrift(FILE* f, const std::vector<DriftSample>& samples, const DriftFit& fit);

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about `ticks` parts.
double tickStep(double span, int ticks);

} // namespace Kovan
