// What quillo-rtc remembers about the board's clock chip between runs, as hwclock keeps
// /etc/adjtime: which chip, whether it keeps UTC or local time, when it was last set right, and how
// fast it runs. One small text file, written whole and atomically; a file that is damaged, too
// long, or not ours is reported in one line and ignored, never half-trusted.
//
// The file, line by line, every line present and in this order (values never empty):
//
//   quillo-rtc drift record 1        the format and its version
//   chip isl1208                     isl1208 or s35391a
//   clock utc                        utc or local: what the chip keeps
//   set 1796553600                   seconds since 1970 (UTC) when the chip was last set to the
//                                    right time, or none
//   rate +47.125                     how fast the chip runs, in ppm (positive: it gains), or none
//   uncertainty 0.350                one standard error of the rate in ppm, or none
//   source drift                     how the rate was obtained: drift (a measurement against a
//                                    server) or systohc (the error found when the chip was set
//                                    again); none exactly when the rate is none
//
// The rate is the chip's own, trimming included: changing the ISL1208's digital trimming changes
// it by the same number of ppm (`afterTrim`).
#pragma once

#include <cstdint>
#include <string>

namespace Kovan {

struct DriftRecord {
    enum Clock { UTC, LOCAL };
    enum Source { NONE, DRIFT, SYSTOHC };

    // The chip's name as quillo-rtc spells it ("isl1208", "s35391a").
    std::string chip;
    Clock clock = UTC;
    bool hasLastSet = false;
    int64_t lastSet = 0;
    // A rate exists exactly when `source` is not NONE.
    Source source = NONE;
    double ratePpm = 0;
    bool hasUncertainty = false;
    double uncertaintyPpm = 0;
};

constexpr const char* DRIFT_RECORD_PATH = "/var/lib/quillo-rtc/drift";

// A chip runs within a few tens of ppm of its nominal rate; past 1000 ppm (86 s a day) it is
// broken, and a record claiming such a rate is not one to correct the clock with.
constexpr double DRIFT_RECORD_MAX_PPM = 1000.0;

// The file's text for `record`. The record must be valid (`validDriftRecord`).
std::string formatDriftRecord(const DriftRecord& record);
bool validDriftRecord(const DriftRecord& record);

// Parses the whole text of a record file. False, with one line (no newline) in `problem` that
// names the line, when anything is out of place; `record` is then left as it was.
bool parseDriftRecord(const std::string& text, DriftRecord* record, std::string* problem);

enum class DriftLoad {
    LOADED,
    MISSING, // no file: nothing to report
    REFUSED // `problem` says why: not a regular file (a link, a FIFO, a directory), over-long,
            // unreadable or damaged
};

// Reads the record at `path` without following a final symbolic link and without waiting on a
// FIFO. Files over 4096 bytes are refused unread.
DriftLoad loadDriftRecord(const char* path, DriftRecord* record, std::string* problem);

// Replaces the file at `path` with `record`: a new file beside it (created exclusively, never
// through a link), flushed to the disk, renamed over the old one, and the directory flushed, so a
// crash leaves either the old record or the new one. The directory itself is created when only
// its last component is missing. An existing `path` that is not a regular file is refused and
// left alone. False with one line in `problem`; nothing is left behind then.
bool saveDriftRecord(const char* path, const DriftRecord& record, std::string* problem);

// The true time (seconds since 1970, UTC) at which a chip whose record is `record` shows
// `chipTime` (the chip's reading in the same scale, taken at its second's edge): the chip has run
// at 1 + rate/10^6 of true time since it was set right at `lastSet`. False, leaving `corrected`
// alone, when the record has no time of the last set or no rate.
bool correctChipTime(const DriftRecord& record, double chipTime, double* corrected);

// Below this span since the last set, the chip's accumulated error says too little about its rate
// to be worth remembering. Each comparison of the chip with the system clock is good to about
// 2 ms (the chip's edge found within 1 ms, set within 1 ms of one): over an hour that is 0.6 ppm,
// well under the 20 ppm step of the ISL1208's digital trimming and about what a room's
// temperature does to a watch crystal anyway. A shorter span would let one slow read move the
// rate by several ppm.
constexpr double DRIFT_MIN_UPDATE_SPAN = 3600.0;

// No record claims to know the rate better than this: a watch crystal's rate follows its
// temperature by about this much, so a new measurement must always be able to move the rate.
constexpr double DRIFT_MIN_UNCERTAINTY_PPM = 0.5;

// systohc leaves alone a chip that is closer than this to the system time (unless forced): one
// rewritten at every run of the 11-minute timer would never gather the hour of error its rate is
// learned from. Within half a second, the whole second it shows is still the right one.
constexpr double SYSTOHC_TOLERANCE = 0.5;

enum class DriftUpdate {
    UPDATED,
    NO_LAST_SET, // the record does not say when the chip was last set: nothing to compare with
    TOO_SHORT, // less than DRIFT_MIN_UPDATE_SPAN since the last set
    OUT_OF_RANGE // the error means a rate past DRIFT_RECORD_MAX_PPM: the chip was set by
                 // something else, or is broken; the record is not changed
};

// The rate update when the chip is about to be set again (systohc): at true time `trueTime` the
// chip showed `chipTime`, both good to `errorSeconds` (one standard error of their difference).
// The error accumulated since the last set gives a measured rate; a record without a rate takes
// it, one whose rate agrees within three standard errors combines both by their weights (the
// inverse of their variances), and one that disagrees (a trim changed, the chip was set by someone
// else) is replaced by the measurement. Only the rate fields change; the caller sets `lastSet`
// when it has set the chip. `span` (optional) receives the seconds since the last set.
DriftUpdate updateDriftRate(DriftRecord* record, double trueTime, double chipTime,
    double errorSeconds, double* span = nullptr);

// The record after the ISL1208's digital trimming changed by `deltaPpm` (new less old): a positive
// trim makes the chip count faster by that much. The error the chip gathered since its last set is
// then no longer one straight line, so the time of the last set is forgotten: nothing is corrected
// until the chip is set again.
void afterTrim(DriftRecord* record, double deltaPpm);

const char* driftSourceName(DriftRecord::Source source);

} // namespace Kovan
