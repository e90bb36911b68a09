#include "tool/Isl1208Trim.h"

#include <cmath>
#include <cstdlib>

namespace Kovan {

namespace {

constexpr uint8_t ATR_BITS = 0x3F;
constexpr uint8_t ATR_INVERTED = 0x20;
// 4.50 pF, the capacitance of the smallest setting, in quarters of a pF.
constexpr int ATR_OFFSET = 18;
constexpr uint8_t DTR_MAGNITUDE = 0x03;
constexpr uint8_t DTR_NEGATIVE = 0x04;
constexpr uint8_t DTR_BITS = DTR_MAGNITUDE | DTR_NEGATIVE;

} // namespace

int isl1208AtrQuarterPf(uint8_t atr) { return ((atr & ATR_BITS) ^ ATR_INVERTED) + ATR_OFFSET; }

int isl1208DtrPpm(uint8_t dtr)
{
    const int magnitude = (dtr & DTR_MAGNITUDE) * ISL1208_DTR_STEP_PPM;
    return 0 != (dtr & DTR_NEGATIVE) ? -magnitude : magnitude;
}

bool isl1208EncodeDtr(int ppm, uint8_t current, uint8_t* encoded)
{
    if (ppm < -ISL1208_DTR_MAX_PPM || ppm > ISL1208_DTR_MAX_PPM || 0 != ppm % ISL1208_DTR_STEP_PPM)
        return false;
    const int steps = std::abs(ppm) / ISL1208_DTR_STEP_PPM;
    *encoded = static_cast<uint8_t>((current & ~DTR_BITS) | steps | (ppm < 0 ? DTR_NEGATIVE : 0));
    return true;
}

DtrProposal proposeIsl1208Dtr(double measuredPpm, int currentPpm)
{
    // The rate without any trimming; each setting then adds its own ppm to it.
    const double untrimmed = measuredPpm - currentPpm;
    DtrProposal best { currentPpm, measuredPpm };
    for (int ppm = -ISL1208_DTR_MAX_PPM; ppm <= ISL1208_DTR_MAX_PPM; ppm += ISL1208_DTR_STEP_PPM) {
        const double residual = untrimmed + ppm;
        const double gain = std::fabs(best.residualPpm) - std::fabs(residual);
        // Equal within rounding: the nearer setting, which is the current one if it ties.
        if (gain > 1e-9
            || (gain > -1e-9 && std::abs(ppm - currentPpm) < std::abs(best.ppm - currentPpm)))
            best = DtrProposal { ppm, residual };
    }
    return best;
}

} // namespace Kovan
