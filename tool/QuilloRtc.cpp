// quillo-rtc: the clock chip on an I2C bus for technicians, with the conventions of hwclock and
// i2c-tools: every transfer checked, reads that never change the chip, ISO 8601 times, and a
// drift measurement finer than the chip's one-second resolution. This file is the command line:
// the usage text and which words and options each command takes.
//
// Exit status: 0 done, 1 failed (one line on standard error saying what to do), 2 usage error.
#include "tool/RtcClock.h"
#include "tool/RtcCommands.h"
#include "tool/RtcFailure.h"
#include "tool/RtcText.h"

#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>

using namespace Kovan;

namespace {

const char* const VERSION = "quillo-rtc 1.0.0";

const char* const USAGE
    = "Usage: quillo-rtc [--bus DEVICE] [--chip isl1208|s35391a|auto] [--force] COMMAND\n"
      "\n"
      "Commands:\n"
      "  detect                    list the supported chips that answer on the bus\n"
      "  read [--utc] [--json]     print the chip's time, ISO 8601 with the zone's offset\n"
      "  set [--utc] TIME|now      write TIME (ISO 8601) or the system time, at the start of a\n"
      "                            second; the weekday is computed\n"
      "  status [--clear] [--json] decode the chip's flags; --clear clears them\n"
      "  dump [--json]             every register by name, its fields decoded; writes nothing\n"
      "  reg get ADDR              print one register\n"
      "  reg set ADDR VALUE [-y] [--dry-run]\n"
      "                            write one register, after asking unless -y\n"
      "  drift --server HOST [--interval S] [--count N | --duration D] [--json] [--plot F.svg]\n"
      "                            measure the chip against an SNTP server until done or Ctrl-C\n"
      "                            (--count 0 and --duration 0: until Ctrl-C); --save keeps\n"
      "                            the rate in the drift record\n"
      "  read --adjust [--json]    also the time corrected by the drift record\n"
      "  hctosys [--ignore-power-loss]\n"
      "                            set the system clock from the chip at its second's edge,\n"
      "                            corrected by the drift record\n"
      "  systohc [--ignore-unsync] write the system time to the chip at a second's edge, only\n"
      "                            while the kernel holds the clock synchronised; learns the\n"
      "                            chip's rate into the drift record\n"
      "  trim                      show the isl1208's analog and digital trimming\n"
      "  trim set --dtr PPM [-y]   set the digital trimming: -60 to +60 ppm in steps of 20\n"
      "\n"
      "Options:\n"
      "  --bus DEVICE    the I2C bus device (default /dev/i2c-0)\n"
      "  --chip NAME     isl1208 (0x6f), s35391a (0x58-0x5f), or auto: the one that answers\n"
      "  --force         use the address even while a kernel driver holds it\n"
      "  --utc           the chip keeps UTC (default: local time, as TZ gives it)\n"
      "  --drift-file PATH\n"
      "                  the drift record (default /var/lib/quillo-rtc/drift)\n"
      "  -h, --help      this text\n"
      "  -V, --version   the version\n"
      "\n"
      "A command that fails writes nothing to the chip.\n";

// A command: its handler, how many words it takes (its own name included), the command-specific
// options it accepts (as " --name" words), and what to say when the words are wrong.
struct Command {
    const char* name;
    int (*handler)(const Options&);
    size_t minWords;
    size_t maxWords;
    const char* options;
    const char* wordsHelp;
};

const Command COMMANDS[] = {
    { "detect", detect, 1, 1, "", "detect takes no words after it" },
    { "read", readTime, 1, 1, " --utc --json --adjust", "read takes no words after it" },
    { "set", setTime, 2, 2, " --utc",
        "set takes one TIME (ISO 8601, e.g. 2031-07-09T21:08:57+09:00) or 'now'" },
    { "status", status, 1, 1, " --clear --json", "status takes no words after it" },
    { "dump", dump, 1, 1, " --json", "dump takes no words after it" },
    { "reg", reg, 3, 4, " -y --dry-run", "give 'reg get ADDR' or 'reg set ADDR VALUE'" },
    { "drift", drift, 1, 1, " --utc --json --server --interval --count --duration --plot --save",
        "drift takes no words after it" },
    { "hctosys", hctosys, 1, 1, " --utc --ignore-power-loss", "hctosys takes no words after it" },
    { "systohc", systohc, 1, 1, " --utc --ignore-unsync", "systohc takes no words after it" },
    { "trim", trim, 1, 2, " --dtr -y", "give 'trim' or 'trim set --dtr PPM'" },
};

Options parse(int argc, char** argv, std::string* givenOut)
{
    enum {
        BUS = 256,
        CHIP,
        FORCE,
        UTC,
        JSON,
        CLEAR,
        DRY_RUN,
        SERVER,
        INTERVAL,
        COUNT,
        DURATION,
        PLOT,
        DRIFT_FILE,
        SAVE,
        ADJUST,
        IGNORE_POWER_LOSS,
        IGNORE_UNSYNC,
        DTR
    };
    static const option longOptions[] = {
        { "bus", required_argument, nullptr, BUS },
        { "chip", required_argument, nullptr, CHIP },
        { "force", no_argument, nullptr, FORCE },
        { "utc", no_argument, nullptr, UTC },
        { "json", no_argument, nullptr, JSON },
        { "clear", no_argument, nullptr, CLEAR },
        { "dry-run", no_argument, nullptr, DRY_RUN },
        { "server", required_argument, nullptr, SERVER },
        { "interval", required_argument, nullptr, INTERVAL },
        { "count", required_argument, nullptr, COUNT },
        { "duration", required_argument, nullptr, DURATION },
        { "plot", required_argument, nullptr, PLOT },
        { "drift-file", required_argument, nullptr, DRIFT_FILE },
        { "save", no_argument, nullptr, SAVE },
        { "adjust", no_argument, nullptr, ADJUST },
        { "ignore-power-loss", no_argument, nullptr, IGNORE_POWER_LOSS },
        { "ignore-unsync", no_argument, nullptr, IGNORE_UNSYNC },
        { "dtr", required_argument, nullptr, DTR },
        { "yes", no_argument, nullptr, 'y' },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'V' },
        { nullptr, 0, nullptr, 0 },
    };
    Options o;
    std::string given; // the command-specific options given, as " --name" words
    opterr = 0;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): quillo-rtc runs one thread
    for (int c; - 1 != (c = getopt_long(argc, argv, ":yhV", longOptions, nullptr));) {
        long number = 0;
        switch (c) {
        case BUS:
            o.bus = optarg;
            break;
        case CHIP:
            o.chip = optarg;
            if ("isl1208" != o.chip && "s35391a" != o.chip && "auto" != o.chip)
                usageError("--chip is isl1208, s35391a or auto, not \"%s\"", optarg);
            break;
        case FORCE:
            o.force = true;
            break;
        case UTC:
            o.utc = true;
            given += " --utc";
            break;
        case JSON:
            o.json = true;
            given += " --json";
            break;
        case CLEAR:
            o.clear = true;
            given += " --clear";
            break;
        case DRY_RUN:
            o.dryRun = true;
            given += " --dry-run";
            break;
        case 'y':
            o.yes = true;
            given += " -y";
            break;
        case SERVER:
            o.server = optarg;
            given += " --server";
            break;
        case INTERVAL:
            if (!parseSeconds(optarg, &o.interval) || o.interval < 1)
                usageError("--interval is at least 1 second, not \"%s\"", optarg);
            given += " --interval";
            break;
        case COUNT:
            if (!parseNumber(optarg, 100000000, &number))
                usageError("--count is a whole number of samples, not \"%s\"", optarg);
            o.count = number;
            given += " --count";
            break;
        case DURATION:
            if (!parseSeconds(optarg, &o.duration))
                usageError("--duration is seconds (or 5m, 2h), not \"%s\"", optarg);
            given += " --duration";
            break;
        case PLOT:
            o.plot = optarg;
            given += " --plot";
            break;
        case DRIFT_FILE:
            if (!*optarg)
                usageError("--drift-file needs a path");
            o.driftFile = optarg;
            break;
        case SAVE:
            o.save = true;
            given += " --save";
            break;
        case ADJUST:
            o.adjust = true;
            given += " --adjust";
            break;
        case IGNORE_POWER_LOSS:
            o.ignorePowerLoss = true;
            given += " --ignore-power-loss";
            break;
        case IGNORE_UNSYNC:
            o.ignoreUnsync = true;
            given += " --ignore-unsync";
            break;
        case DTR:
            // A sign is allowed; whether the value is one the chip has is trim's to say.
            if (!parseNumber(optarg + ('+' == *optarg || '-' == *optarg), 1000, &number))
                usageError("--dtr is -60 to +60 ppm in steps of 20, not \"%s\"", optarg);
            o.dtr = '-' == *optarg ? -number : number;
            o.hasDtr = true;
            given += " --dtr";
            break;
        case 'h':
            (void)fputs(USAGE, stdout);
            exit(0); // NOLINT(concurrency-mt-unsafe): one thread
        case 'V':
            printf("%s\n", VERSION);
            exit(0); // NOLINT(concurrency-mt-unsafe): one thread
        case ':':
            usageError("%s needs a value", argv[optind - 1]);
        default:
            usageError("unknown option %s", argv[optind - 1]);
        }
    }
    for (int i = optind; i < argc; ++i)
        o.words.push_back(argv[i]);
    if (o.words.empty())
        usageError("no command given");
    *givenOut = given;
    if (std::string::npos != given.find(" --count")
        && std::string::npos != given.find(" --duration"))
        usageError("give --count or --duration, not both");
    return o;
}

// The command the first word names, with its words and options checked.
const Command& commandFor(const Options& o, const std::string& given)
{
    for (const Command& c : COMMANDS) {
        if (o.words[0] != c.name)
            continue;
        if (o.words.size() < c.minWords || o.words.size() > c.maxWords)
            usageError("%s", c.wordsHelp);
        const std::string permitted = std::string(c.options) + " ";
        size_t at = 0;
        while (at < given.size()) {
            const size_t next = given.find(' ', at + 1);
            const std::string word = given.substr(at, next - at);
            if (std::string::npos == permitted.find(word + " "))
                usageError("%s does not go with %s", word.c_str() + 1, c.name);
            at = std::string::npos == next ? given.size() : next;
        }
        return c;
    }
    usageError("unknown command \"%s\"", o.words[0].c_str());
}
} // namespace

int main(int argc, char** argv)
{
    watchInterrupts();
    try {
        std::string given;
        const Options options = parse(argc, argv, &given);
        return commandFor(options, given).handler(options);
    } catch (const UsageError& e) {
        (void)fflush(stdout);
        (void)fprintf(stderr, "quillo-rtc: %s\n%s", e.message.c_str(), USAGE);
        return 2;
    } catch (const Failure& f) {
        (void)fflush(stdout);
        (void)fprintf(stderr, "quillo-rtc: %s\n", f.message.c_str());
        return 1;
    }
}
