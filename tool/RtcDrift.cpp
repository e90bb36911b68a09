#include "tool/RtcDrift.h"

#include "tool/ChipBus.h"
#include "tool/RtcClock.h"
#include "tool/RtcFailure.h"
#include "tool/RtcText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

// One read of the calendar, stamped with the system time before and after it.
struct Reading {
    double start, end;
    unsigned char fields[CALENDAR_SIZE];
};

namespace {

Reading readStamped(ChipBus& bus)
{
    Reading r;
    r.start = realNow();
    bus.readCalendar(r.fields);
    r.end = realNow();
    return r;
}

// Reads until the calendar changes (pausing `gap` seconds between reads) or a read starts after
// `until`. The change lies between the start of the last read that showed the old second and the
// end of the first that showed the new one.
bool pollEdge(ChipBus& bus, double until, double gap, Edge* edge)
{
    Reading before = readStamped(bus);
    for (long reads = 0; !interrupted() && reads < 200000; ++reads) {
        pause(gap);
        const Reading now = readStamped(bus);
        if (0 != memcmp(now.fields, before.fields, CALENDAR_SIZE)) {
            edge->system = (before.start + now.end) / 2;
            edge->halfWidth = (now.end - before.start) / 2;
            memcpy(edge->fields, now.fields, CALENDAR_SIZE);
            return true;
        }
        if (now.start > until)
            return false;
        before = now;
    }
    return false;
}

} // namespace

Edge findEdge(ChipBus& bus, double predicted, double window, double second, bool utc)
{
    constexpr double SHARP = 0.001;
    Edge best, previous;
    best.halfWidth = 1e9; // and system 0: none found
    std::vector<EdgeBracket> brackets;
    for (int attempt = 0; attempt < 8 && !interrupted() && best.halfWidth > SHARP; ++attempt) {
        Edge edge;
        bool found = false;
        if (predicted > 0) {
            sleepUntil(realNow, predicted - window);
            // Reads 0.2 ms apart rather than back to back: a process that spins is preempted on
            // a loaded machine, often in the very read that sees the edge, while one that wakes
            // for each read runs at once.
            found = pollEdge(bus, predicted + window, 0.0002, &edge) && edge.halfWidth < window;
        }
        if (!found && !pollEdge(bus, realNow() + 2.5, 0.01, &edge)) {
            if (interrupted())
                break;
            fail("the chip's seconds did not change for 2.5 s; its oscillator may be stopped "
                 "(see 'quillo-rtc status')");
        }
        brackets.push_back({ edge.system - edge.halfWidth, edge.system + edge.halfWidth,
            static_cast<long long>(calendarInstant(edge.fields, utc)) });
        Edge combined = edge;
        const double shortest = second > 0 ? second * 0.998 : 0.5;
        const double longest = second > 0 ? second * 1.002 : 2.0;
        if (!combineEdges(brackets, shortest, longest, &combined.system, &combined.halfWidth)
            || combined.halfWidth > edge.halfWidth)
            combined = edge;
        if (combined.halfWidth < best.halfWidth)
            best = combined;
        // Two edges in a row measure the chip's second; the first alone leaves it to the rate.
        const bool consecutive = previous.system > 0 && edge.system - previous.system < 1.5;
        const double length
            = consecutive ? edge.system - previous.system : (second > 0 ? second : 1.0);
        const double spread
            = consecutive ? edge.halfWidth + previous.halfWidth : (second > 0 ? 0.002 : 0.02);
        predicted = combined.system + length;
        window = std::min(std::max(combined.halfWidth + spread + 0.0005, 0.0015), 0.03);
        previous = edge;
    }
    return best;
}

double tickStep(double span, int ticks)
{
    if (!(span > 0) || ticks < 1)
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : { 1.0, 2.0, 5.0 }) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

namespace {

// Decimals enough to tell ticks `step` apart.
int decimalsFor(double step)
{
    return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
}

// The multiples of `step` within [low, high] (a few more than asked for at most).
std::vector<double> ticksWithin(double low, double high, double step)
{
    std::vector<double> ticks;
    const auto first = static_cast<long long>(std::ceil(low / step - 1e-9));
    for (long long k = first;
         static_cast<double>(k) * step <= high + step * 1e-9 && ticks.size() < 50; ++k)
        ticks.push_back(0 == k ? 0.0 : static_cast<double>(k) * step); // never a "-0"
    return ticks;
}

} // namespace

bool plotDrift(FILE* f, const std::vector<DriftSample>& samples, const DriftFit& fit)
{
    const double width = 800, height = 500, left = 90, right = 20, top = 64, bottom = 60;
    double t0 = 0, t1 = 1, y0 = 0, y1 = 0;
    if (!samples.empty()) {
        t0 = samples.front().elapsed;
        t1 = std::max(samples.back().elapsed, t0 + 1e-3);
        y0 = y1 = samples.front().offsetMs;
    }
    const double slope = fit.ratePpm / 1000.0;
    const auto fitted = [&](double t) { return fit.interceptMs + slope * t; };
    // The frame holds every error bar and the fitted line.
    for (const DriftSample& s : samples) {
        y0 = std::min(y0, s.offsetMs - s.uncertaintyMs);
        y1 = std::max(y1, s.offsetMs + s.uncertaintyMs);
    }
    if (fit.hasRate) {
        y0 = std::min({ y0, fitted(t0), fitted(t1) });
        y1 = std::max({ y1, fitted(t0), fitted(t1) });
    }
    // A flat run still gets a band of a millisecond either way.
    const double pad = std::max((y1 - y0) * 0.1, 1.0);
    y0 -= pad;
    y1 += pad;
    // A little room left and right, so the first and last samples stand clear of the frame.
    const double tLow = t0 - (t1 - t0) * 0.03, tHigh = t1 + (t1 - t0) * 0.03;
    const double plotRight = width - right, plotBottom = height - bottom;
    const auto x
        = [&](double t) { return left + (t - tLow) / (tHigh - tLow) * (plotRight - left); };
    const auto y = [&](double v) { return top + (y1 - v) / (y1 - y0) * (plotBottom - top); };

    (void)fprintf(f,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
        "font-family=\"sans-serif\" font-size=\"12\">\n",
        width, height);
    (void)fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    (void)fprintf(f,
        "<text x=\"%.0f\" y=\"22\" font-size=\"14\">Chip offset from the time server</text>\n",
        left);

    // The grid and the tick labels, light enough to read the samples through.
    const double xStep = tickStep(t1 - t0, 8), yStep = tickStep(y1 - y0, 8);
    for (const double t : ticksWithin(t0, tHigh, xStep))
        (void)fprintf(f,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e0e0e0\"/>\n"
            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%.*f</text>\n",
            x(t), top, x(t), plotBottom, x(t), plotBottom + 16, decimalsFor(xStep), t);
    for (const double v : ticksWithin(y0, y1, yStep))
        (void)fprintf(f,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e0e0e0\"/>\n"
            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%.*f</text>\n",
            left, y(v), plotRight, y(v), left - 6, y(v) + 4, decimalsFor(yStep), v);
    (void)fprintf(f,
        "<path d=\"M%.1f %.1f V%.1f H%.1f\" fill=\"none\" stroke=\"black\"/>\n"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">time since the first sample "
        "(s)</text>\n"
        "<text transform=\"translate(20 %.1f) rotate(-90)\" text-anchor=\"middle\">chip offset "
        "(ms, positive: ahead)</text>\n",
        left, top, plotBottom, plotRight, (left + plotRight) / 2, height - 16,
        (top + plotBottom) / 2);

    if (fit.hasRate)
        (void)fprintf(f,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c03030\" "
            "stroke-width=\"1.5\"/>\n",
            x(t0), y(fitted(t0)), x(t1), y(fitted(t1)));
    for (const DriftSample& s : samples) {
        const double cx = x(s.elapsed);
        const double high = y(s.offsetMs + s.uncertaintyMs), low = y(s.offsetMs - s.uncertaintyMs);
        (void)fprintf(f,
            "<path d=\"M%.1f %.1f V%.1f M%.1f %.1f H%.1f M%.1f %.1f H%.1f\" stroke=\"#2050a0\"/>\n"
            "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#2050a0\"/>\n",
            cx, high, low, cx - 3, high, cx + 3, cx - 3, low, cx + 3, cx, y(s.offsetMs));
    }

    // The legend, between the title and the plot, where no sample can hide it.
    const double ly = 44;
    (void)fprintf(f,
        "<path d=\"M%.1f %.1f V%.1f\" stroke=\"#2050a0\"/>"
        "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#2050a0\"/>\n"
        "<text x=\"%.1f\" y=\"%.1f\">%d samples, bars: uncertainty</text>\n",
        left + 5, ly - 11, ly + 3, left + 5, ly - 4, left + 16, ly, fit.samples);
    (void)fprintf(f,
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#c03030\" "
        "stroke-width=\"1.5\"/>\n<text x=\"%.1f\" y=\"%.1f\">",
        left + 250, ly - 4, left + 275, ly - 4, left + 282, ly);
    if (!fit.hasRate)
        (void)fprintf(f, "fit: rate unknown (one instant)");
    else if (fit.hasUncertainty)
        (void)fprintf(f, "fit: %+.3f &#177; %.3f ppm, %+.3f ms at the end", fit.ratePpm,
            fit.rateUncertaintyPpm, fit.offsetMs);
    else
        (void)fprintf(f, "fit: %+.3f ppm, %+.3f ms at the end", fit.ratePpm, fit.offsetMs);
    (void)fprintf(f, "</text>\n</svg>\n");
    return 0 == ferror(f);
}

} // namespace Kovan
