#include "tool/RtcDrift.h"

#include <algorithm>
#include <cmath>

namespace Kovan {

DriftFit fitDrift(const std::vector<DriftSample>& samples)
{
    DriftFit fit;
    fit.samples = static_cast<int>(samples.size());
    if (samples.empty())
        return fit;
    fit.duration = samples.back().elapsed - samples.front().elapsed;
    // Weights 1 / uncertainty^2, with a floor of 0.1 ms so no sample counts infinitely.
    const auto weight = [](const DriftSample& s) {
        const double u = std::max(s.uncertaintyMs, 0.1);
        return 1.0 / (u * u);
    };
    double w = 0, meanT = 0, meanY = 0;
    for (const DriftSample& s : samples) {
        w += weight(s);
        meanT += weight(s) * s.elapsed;
        meanY += weight(s) * s.offsetMs;
    }
    meanT /= w;
    meanY /= w;
    double stt = 0, sty = 0;
    for (const DriftSample& s : samples) {
        stt += weight(s) * (s.elapsed - meanT) * (s.elapsed - meanT);
        sty += weight(s) * (s.elapsed - meanT) * (s.offsetMs - meanY);
    }
    fit.interceptMs = meanY;
    fit.offsetMs = meanY;
    // Samples taken at one instant (or a single one) say nothing about a rate.
    if (samples.size() < 2 || stt <= 0)
        return fit;
    const double slope = sty / stt; // ms per second
    fit.hasRate = true;
    fit.ratePpm = slope * 1000.0;
    fit.interceptMs = meanY - slope * meanT;
    fit.offsetMs = fit.interceptMs + slope * samples.back().elapsed;
    if (samples.size() < 3)
        return fit;
    // The slope's standard error from the scatter actually seen, not from the stated
    // uncertainties, which are bounds rather than deviations.
    double residuals = 0;
    for (const DriftSample& s : samples) {
        const double r = s.offsetMs - (fit.interceptMs + slope * s.elapsed);
        residuals += weight(s) * r * r;
    }
    fit.hasUncertainty = true;
    fit.rateUncertaintyPpm
        = std::sqrt(residuals / (static_cast<double>(samples.size()) - 2) / stt) * 1000.0;
    return fit;
}

bool combineEdges(const std::vector<EdgeBracket>& edges, double shortest, double longest,
    double* edge, double* halfWidth)
{
    if (edges.empty())
        return false;
    const long long last = edges.back().count;
    // Where the last edge may lie for chip seconds of `length`; low > high when nowhere.
    const auto range = [&](double length, double* low, double* high) {
        *low = -1e300;
        *high = 1e300;
        for (const EdgeBracket& e : edges) {
            const double shift = static_cast<double>(last - e.count) * length;
            *low = std::max(*low, e.low + shift);
            *high = std::min(*high, e.high + shift);
        }
        return *low <= *high;
    };
    // The lengths that agree with every bracket form one interval: a coarse pass finds it, a
    // fine one spans it.
    constexpr int STEPS = 2000;
    double from = shortest, to = longest;
    for (int pass = 0; pass < 2; ++pass) {
        double first = 0, lastFeasible = -1, low = 0, high = 0;
        double lowest = 1e300, highest = -1e300;
        const double step = (to - from) / STEPS;
        for (int i = 0; i <= STEPS; ++i) {
            const double length = from + step * i;
            if (!range(length, &low, &high))
                continue;
            if (lastFeasible < 0)
                first = length;
            lastFeasible = length;
            lowest = std::min(lowest, low);
            highest = std::max(highest, high);
        }
        if (lastFeasible < 0)
            return false;
        if (1 == pass || step <= 0) {
            *edge = (lowest + highest) / 2;
            *halfWidth = (highest - lowest) / 2;
            return true;
        }
        from = std::max(shortest, first - step);
        to = std::min(longest, lastFeasible + step);
    }
    return false;
}

bool plotDrift(const char* path, const std::vector<DriftSample>& samples, const DriftFit& fit)
{
    FILE* f = fopen(path, "w");
    if (!f)
        return false;
    const double width = 800, height = 450, left = 80, right = 20, top = 40, bottom = 50;
    double t0 = 0, t1 = 1, y0 = 0, y1 = 0;
    if (!samples.empty()) {
        t0 = samples.front().elapsed;
        t1 = std::max(samples.back().elapsed, t0 + 1e-3);
        y0 = y1 = samples.front().offsetMs;
    }
    for (const DriftSample& s : samples) {
        y0 = std::min(y0, s.offsetMs);
        y1 = std::max(y1, s.offsetMs);
    }
    // A flat run still gets a band of a millisecond either way.
    const double pad = std::max((y1 - y0) * 0.1, 1.0);
    y0 -= pad;
    y1 += pad;
    const auto x = [&](double t) { return left + (t - t0) / (t1 - t0) * (width - left - right); };
    const auto y = [&](double v) { return top + (y1 - v) / (y1 - y0) * (height - top - bottom); };

    (void)fprintf(f,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
        "font-family=\"sans-serif\" font-size=\"12\">\n",
        width, height);
    (void)fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    (void)fprintf(
        f, "<text x=\"%.0f\" y=\"20\">chip offset from the server (ms) over time (s)", left);
    if (fit.hasRate)
        (void)fprintf(f, ": %+.3f ms, %+.1f ppm", fit.offsetMs, fit.ratePpm);
    (void)fprintf(f, "</text>\n");
    (void)fprintf(f,
        "<path d=\"M%.1f %.1f V%.1f H%.1f\" fill=\"none\" stroke=\"black\"/>\n"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.3f</text>\n"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.3f</text>\n"
        "<text x=\"%.1f\" y=\"%.1f\">%.1f</text>\n"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.1f</text>\n",
        left, top, height - bottom, width - right, left - 6, top + 4, y1, left - 6, height - bottom,
        y0, left, height - bottom + 18, t0, width - right, height - bottom + 18, t1);
    if (fit.hasRate) {
        const double slope = fit.ratePpm / 1000.0;
        (void)fprintf(f,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c03030\" "
            "stroke-width=\"1.5\"/>\n",
            x(t0), y(fit.interceptMs + slope * t0), x(t1), y(fit.interceptMs + slope * t1));
    }
    for (const DriftSample& s : samples)
        (void)fprintf(f, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#2050a0\"/>\n",
            x(s.elapsed), y(s.offsetMs));
    (void)fprintf(f, "</svg>\n");
    return 0 == fclose(f);
}

} // namespace Kovan
