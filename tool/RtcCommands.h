// quillo-rtc's commands. Each checks all of its input (the words, the options, the time it would
// write) before its first write to the chip, so a command that fails leaves the chip as it was;
// each ends with its exit status or a Failure or UsageError (RtcFailure.h).
#pragma once

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
    std::vector<std::string> words; // the command and its words
};

int detect(const Options& options);
int readTime(const Options& options);
int setTime(const Options& options);
int status(const Options& options);
int reg(const Options& options);
int dump(const Options& options);
int drift(const Options& options);

} // namespace Kovan
