// quillo-rtc's commands. Each checks all of its input (the words, the options, the time it would
// write) before its first write to the chip, so a command that fails leaves the chip as it was;
// each ends with its exit status or a Failure or UsageError (RtcFailure.h).
#pragma once

#include "tool/DriftRecord.h"

#include <ctime>
#include <string>
#include <vector>

namespace Kovan {

struct Options {
    std::string bus = "/dev/i2c-0";
    std::string chip = "auto";
    bool force = false;
    bool utc = false;
    bool json = false;
    bool yes = false;
    bool dryRun = false;
    bool clear = false;
    std::string server;
    double interval = 10;
    long count = 0; // 0: no limit
    double duration = 0; // 0: no limit
    std::string plot;
    std::string driftFile = DRIFT_RECORD_PATH;
    bool save = false; // drift: the rate into the drift record
    bool adjust = false; // read: the time corrected by the drift record too
    bool ignorePowerLoss = false; // hctosys: use a chip that lost power
    bool ignoreUnsync = false; // systohc: write while the kernel calls the clock unsynchronised
    bool hasDtr = false; // trim set --dtr
    long dtr = 0;
    std::vector<std::string> words; // the command and its words
};

int detect(const Options& options);
int readTime(const Options& options);
int setTime(const Options& options);
int status(const Options& options);
int reg(const Options& options);
int dump(const Options& options);
int drift(const Options& options);
int hctosys(const Options& options);
int systohc(const Options& options);
int trim(const Options& options);

class ChipBus;
struct ChipModel;

// Shared by the commands (RtcCommands.cpp).

// Whether the chip reports a power loss.
bool powerLost(ChipBus& bus);
// Writes `fields` (the time `value`) into the chip at the system time `edge`, the start of a
// second, and checks it reads back. Everything that can be found out is found out before the
// wait; Ctrl-C during it ends the command with nothing written. With `clearPowerLoss` the chip's
// power-loss flags are cleared with the same write, or by the chip's reset just before it.
void writeCalendarAt(ChipBus& bus, double edge, const unsigned char* fields, time_t value, bool utc,
    bool clearPowerLoss);
// Asks `question` on standard error unless `yes`; a Failure ("not confirmed") unless answered y.
void confirm(bool yes, const std::string& question);

// The drift record at --drift-file when it is this chip's, kept in the same clock (UTC or local);
// otherwise false, with a line on standard error saying why when there is a file at all.
// `existing` (optional) receives whether a readable record of any chip is there, `found` what it
// holds.
bool chipRecord(const Options& options, const ChipModel& chip, DriftRecord* record,
    DriftRecord* found = nullptr, bool* existing = nullptr);
// A record for the chip with nothing known yet.
DriftRecord freshRecord(const Options& options, const ChipModel& chip);
// Saves `record` at --drift-file; a Failure when it cannot.
void saveRecord(const Options& options, const DriftRecord& record);

} // namespace Kovan
