// The ISL1208's two ways of trimming its oscillator, as the chip's registers hold them:
//
//   0x0A ATR  bits 0-5: the analog trimming, the crystal's load capacitance in steps of 0.25 pF
//             (bit 5 inverted: 0x20 is 4.50 pF, 0x00 is 12.50 pF, 0x1F is 20.25 pF); bits 6-7
//             (the battery-mode trimming) are not ours and are kept as they are
//   0x0B DTR  bits 0-1: the digital trimming, 0, 20, 40 or 60 ppm; bit 2 set makes it negative;
//             a positive trimming makes the chip count faster. Bits 3-7 are kept as they are.
//
// A larger load capacitance slows the crystal, but by how much depends on the crystal: only the
// digital trimming has a known size, so only it is proposed to cancel a measured rate.
#pragma once

#include <cstdint>

namespace Kovan {

constexpr unsigned char ISL1208_ATR_REGISTER = 0x0A;
constexpr unsigned char ISL1208_DTR_REGISTER = 0x0B;

constexpr int ISL1208_DTR_STEP_PPM = 20;
constexpr int ISL1208_DTR_MAX_PPM = 60;

// The load capacitance the ATR register selects, in quarters of a pF (18 to 81).
int isl1208AtrQuarterPf(uint8_t atr);

// The digital trimming the DTR register holds, in ppm (-60 to +60; 0x04, a negative zero, is 0).
int isl1208DtrPpm(uint8_t dtr);

// The DTR register that holds `ppm` (a multiple of 20 within +/-60), keeping the other bits of
// `current`. False, leaving `encoded` alone, for any other value.
bool isl1208EncodeDtr(int ppm, uint8_t current, uint8_t* encoded);

struct DtrProposal {
    int ppm; // the digital trimming to write
    double residualPpm; // the rate the chip should then have
};

// The digital trimming that brings a chip measured at `measuredPpm` (positive: it gains) while
// trimmed by `currentPpm` closest to the right rate. Between two equally good settings the one
// nearer the current trimming wins, so a chip already as good as it gets is left alone.
DtrProposal proposeIsl1208Dtr(double measuredPpm, int currentPpm);

} // namespace Kovan
