// The calendar counter of a battery-backed clock chip: seven BCD registers that keep counting,
// at the chip's own rate, from the host time they were last set at. The chip's rate is the host's
// clock scaled by QUILLO_SIM_DRIFT_PPM (parts per million; positive runs fast, -1000000 stops the
// oscillator, clamped to -1000000..10^9), then by the chip's own trimming. QUILLO_SIM_EDGE_MS
// places the second edges that many milliseconds after the host's whole seconds (the count starts
// then, rather than at the write). Contents no real calendar can hold (a month 13, a nibble above
// 9) are kept as written and do not count, so a program reads back exactly what it wrote.
#pragma once

#include <cstdint>
#include <string>

namespace BenchSim {

class ChipCalendar {
public:
    // Packed BCD. The year counts from 2000 (00 to 99); the hour is 0 to 23 with no flag bits;
    // the weekday 0 to 6 advances at each midnight whatever the date says.
    struct Registers {
        uint8_t year = 0x00;
        uint8_t month = 0x01;
        uint8_t day = 0x01;
        uint8_t weekday = 0x00;
        uint8_t hour = 0x00;
        uint8_t minute = 0x00;
        uint8_t second = 0x00;
    };

    // A chip just reset: 2000-01-01, weekday 0, 00:00:00, counting from now.
    ChipCalendar();

    // Setting the time also restarts the seconds divider, as the chips do.
    void set(const Registers& registers, double hostTime);
    void reset(double hostTime);
    // What the counter holds at `hostTime`.
    Registers at(double hostTime) const;

    // The chip's own trimming, in ppm on top of the bench's drift, from `hostTime` on; what the
    // earlier trimming gained or lost stays counted, so changing it never moves the time shown.
    void trim(double ppm, double hostTime);
    // The trimming in force, as its register says after a restart (nothing is carried over).
    void restoreTrim(double ppm) { _trimPpm = ppm; }
    // State-file form of what the trimming added so far: "<seconds> @ <host seconds it applies
    // from>". Setting the time starts both afresh.
    std::string saveTrim() const;
    bool loadTrim(const std::string& text);

    // State-file form: "YY MM DD W hh mm ss @ <host seconds>", registers in hex.
    std::string save() const;
    bool load(const std::string& text);

private:
    // The host time the count starts from.
    double start() const;

    Registers _set;
    double _setAt;
    double _trimPpm = 0;
    double _trimSince = 0;
    // Chip seconds the trimming gained (or lost) before `_trimSince`.
    double _trimCarried = 0;
};

bool isBcd(uint8_t value);
int fromBcd(uint8_t value);
uint8_t toBcd(int value);

} // namespace BenchSim
