// quillo-rtc's board-keeping commands, for boards whose kernel has no driver for the chip: the
// system clock from the chip at boot (hctosys), the chip from a synchronised system clock with
// its rate learned on the way (systohc), and the ISL1208's oscillator trimming (trim).
#include "foundation/ClockPolicy.h"
#include "tool/ChipBus.h"
#include "tool/Isl1208Trim.h"
#include "tool/RtcClock.h"
#include "tool/RtcCommands.h"
#include "tool/RtcDrift.h"
#include "tool/RtcFailure.h"
#include "tool/RtcText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace Kovan {

namespace {

// The kernel's bound on the clock's error grows by 500 ppm of the time since the daemon last
// spoke to it; past this it says more about a quiet daemon than about the clock.
constexpr double MAX_KERNEL_ERROR = 0.05;

// A calendar the chip holds at the moment, read once; a Failure when it is no time at all.
void requireValidTime(ChipBus& bus, bool utc)
{
    unsigned char fields[CALENDAR_SIZE];
    bus.readCalendar(fields);
    if (!validCalendar(fields))
        fail("the chip holds no valid time; set it first ('quillo-rtc set' or 'systohc')");
    (void)calendarInstant(fields, utc);
}

// The record at --drift-file is replaced before the chip is written and put back when the write
// does not happen, so a failed command leaves the record and the chip as they were.
class RecordChange {
public:
    RecordChange(
        const Options& options, const DriftRecord& after, bool existed, const DriftRecord& before)
        : _options(options)
        , _existed(existed)
        , _before(before)
    {
        saveRecord(options, after);
    }
    ~RecordChange()
    {
        if (_kept)
            return;
        std::string ignored;
        if (_existed)
            (void)saveDriftRecord(_options.driftFile.c_str(), _before, &ignored);
        else
            (void)unlink(_options.driftFile.c_str());
    }
    RecordChange(const RecordChange&) = delete;
    RecordChange& operator=(const RecordChange&) = delete;

    void keep() { _kept = true; }

private:
    const Options& _options;
    bool _existed;
    DriftRecord _before;
    bool _kept = false;
};

std::string quarterPf(int quarters)
{
    char text[16];
    (void)snprintf(text, sizeof text, "%d.%02d", quarters / 4, quarters % 4 * 25);
    return text;
}

} // namespace

int hctosys(const Options& options)
{
    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    if (!options.ignorePowerLoss && powerLost(bus))
        fail("the chip reports a power loss, so its time means nothing; the clock was not set "
             "(set the chip, or --ignore-power-loss to use it anyway)");
    requireValidTime(bus, options.utc);
    DriftRecord record;
    const bool haveRecord = chipRecord(options, bus.chip(), &record);

    // The chip holds its second from exactly its edge: that instant, not the moment of a read,
    // is what the system clock is set from.
    const Edge edge = findEdge(bus, 0, 0.03, 0, options.utc);
    if (interrupted() || 0 == edge.system)
        fail("interrupted; the clock was not set");
    const double chipTime = static_cast<double>(calendarInstant(edge.fields, options.utc));
    double truth = chipTime;
    if (haveRecord && !correctChipTime(record, chipTime, &truth))
        warn("the drift record holds no rate or no time of the last set; the chip's time is used "
             "as it is");
    if (!ClockPolicy::stepBy(truth - edge.system))
        fail("cannot set the system clock: %s; run as root (CAP_SYS_TIME)",
            errorText(errno).c_str());
    printf("%s: system clock stepped by %+.3f s (drift correction %+.3f s, edge +/- %.3f ms)\n",
        isoTime(static_cast<time_t>(std::floor(truth)), options.utc).c_str(), truth - edge.system,
        truth - chipTime, edge.halfWidth * 1e3);
    return 0;
}

int systohc(const Options& options)
{
    long maxErrorUs = 0;
    if (!options.ignoreUnsync && ClockPolicy::SYNCHRONISED != ClockPolicy::kernelSync(&maxErrorUs))
        fail("the kernel does not hold the system clock synchronised; nothing written "
             "(--ignore-unsync writes it anyway)");
    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    DriftRecord found;
    bool existed = false;
    DriftRecord record = freshRecord(options, chip);
    const bool haveRecord = chipRecord(options, chip, &record, &found, &existed);

    // A chip that lost power, or holds no time, has no error worth learning from.
    unsigned char fields[CALENDAR_SIZE];
    bus.readCalendar(fields);
    const bool lost = powerLost(bus);
    if (!lost && validCalendar(fields)) {
        const Edge edge = findEdge(bus, 0, 0.03, 0, options.utc);
        if (interrupted() || 0 == edge.system)
            fail("interrupted; nothing written");
        const double chipTime = static_cast<double>(calendarInstant(edge.fields, options.utc));
        const double error = chipTime - edge.system;
        if (std::fabs(error) < SYSTOHC_TOLERANCE) {
            printf("the chip is %+.3f s from the system clock; left alone ('set now' writes it "
                   "anyway)\n",
                error);
            return 0;
        }
        const double kernelError
            = std::min(static_cast<double>(std::max(maxErrorUs, 0L)) * 1e-6, MAX_KERNEL_ERROR);
        double span = 0;
        switch (haveRecord ? updateDriftRate(
                    &record, edge.system, chipTime, edge.halfWidth + kernelError, &span)
                           : DriftUpdate::NO_LAST_SET) {
        case DriftUpdate::UPDATED:
            printf("the chip was %+.3f s off after %.1f h: rate %+.2f ppm", error, span / 3600,
                record.ratePpm);
            if (record.hasUncertainty)
                printf(" +/- %.2f", record.uncertaintyPpm);
            printf("\n");
            break;
        case DriftUpdate::TOO_SHORT:
            printf("the chip was %+.3f s off after %.1f min: too short a span to learn its rate\n",
                error, span / 60);
            break;
        case DriftUpdate::OUT_OF_RANGE:
            warn("the chip was %+.3f s off: more than drift explains (set by something else?); "
                 "its rate is not learned from it",
                error);
            break;
        case DriftUpdate::NO_LAST_SET:
            printf("the chip was %+.3f s off\n", error);
            break;
        }
    }

    // The next second of the system clock, unless it is too close to check the chip before it.
    const double invoked = realNow();
    const double edge = std::floor(invoked + 0.05) + 1.0;
    const time_t value = static_cast<time_t>(edge);
    unsigned char next[CALENDAR_SIZE];
    calendarFor(value, options.utc, next);
    record.hasLastSet = true;
    record.lastSet = static_cast<int64_t>(value);
    RecordChange change(options, record, existed, found);
    writeCalendarAt(bus, edge, next, value, options.utc, true);
    change.keep();
    printf("%s\n", isoTime(value, options.utc).c_str());
    return 0;
}

int trim(const Options& options)
{
    const bool setting = options.words.size() > 1;
    if (setting && ("set" != options.words[1] || !options.hasDtr))
        usageError("give 'trim' or 'trim set --dtr PPM'");
    if (!setting && (options.hasDtr || options.yes))
        usageError("--dtr and -y go with 'trim set'");
    uint8_t unused = 0;
    if (setting && !isl1208EncodeDtr(static_cast<int>(options.dtr), 0, &unused))
        usageError("--dtr is -60 to +60 ppm in steps of 20, not %ld", options.dtr);

    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    if (chip.digitalTrimRegister < 0)
        fail("the %s's trimming is not supported; only the isl1208's", chip.name);
    const uint8_t atr = bus.readByte(chip.analogTrimRegister);
    const uint8_t dtr = bus.readByte(chip.digitalTrimRegister);
    const int before = isl1208DtrPpm(dtr);
    if (!setting) {
        printf("analog trim  0x%02x  load capacitance %s pF\ndigital trim 0x%02x  %+d ppm\n", atr,
            quarterPf(isl1208AtrQuarterPf(atr)).c_str(), dtr, before);
        return 0;
    }
    const int after = static_cast<int>(options.dtr);
    uint8_t encoded = 0;
    (void)isl1208EncodeDtr(after, dtr, &encoded);
    DriftRecord found;
    bool existed = false;
    DriftRecord record;
    const bool haveRecord = chipRecord(options, chip, &record, &found, &existed);
    char question[256];
    (void)snprintf(question, sizeof question,
        "Set the digital trim of the %s on %s from %+d to %+d ppm?", chip.name, options.bus.c_str(),
        before, after);
    confirm(options.yes, question);
    // The record's rate follows the trimming; without a record there is nothing to move.
    if (haveRecord && after != before) {
        afterTrim(&record, after - before);
        RecordChange change(options, record, existed, found);
        bus.writeByte({ chip.digitalTrimRegister, encoded });
        change.keep();
    } else {
        bus.writeByte({ chip.digitalTrimRegister, encoded });
    }
    const uint8_t back = bus.readByte(chip.digitalTrimRegister);
    if (back != encoded)
        fail("the digital trim reads back 0x%02x, not 0x%02x; check the wiring", back, encoded);
    printf("digital trim 0x%02x  %+d ppm (was %+d ppm)\n", back, after, before);
    return 0;
}

} // namespace Kovan
