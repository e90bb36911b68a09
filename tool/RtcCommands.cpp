#include "tool/RtcCommands.h"

#include "foundation/Bcd.h"
#include "tool/ChipBus.h"
#include "tool/Isl1208Trim.h"
#include "tool/RtcClock.h"
#include "tool/RtcFailure.h"
#include "tool/RtcText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Kovan {

bool powerLost(ChipBus& bus)
{
    const int reg = bus.chip().statusRegister;
    return 0 != (bus.readByte(reg) & bus.chip().powerLossBits(reg));
}

void writeCalendarAt(ChipBus& bus, double edge, const unsigned char* fields, time_t value, bool utc,
    bool clearPowerLoss)
{
    const ChipModel& chip = bus.chip();
    const int statusRegister = chip.statusRegister;
    const unsigned char lostBits = chip.powerLossBits(statusRegister);
    // Calendar writes may need the write-enable bit; the flags beside it are written as they
    // are (1 keeps them), but for the power-loss flags when they are to go.
    RegisterWrite enable = chip.writeEnable;
    bool enabling = false;
    if (enable.reg >= 0) {
        const unsigned char current = bus.readByte(enable.reg);
        unsigned char wanted = static_cast<unsigned char>(current | enable.value);
        if (clearPowerLoss && enable.reg == statusRegister)
            wanted = static_cast<unsigned char>(wanted & ~lostBits);
        enabling = wanted != current;
        enable.value = wanted;
    }
    // A chip whose flags only a reset clears: the reset zeroes the calendar, so it goes just
    // before the write, after the wait, where Ctrl-C can no longer leave the chip reset.
    const bool resetting
        = clearPowerLoss && chip.reset && 0 != (bus.readByte(statusRegister) & lostBits);
    std::vector<unsigned char> block = bus.calendarBlock(fields);
    sleepUntil(realNow, edge);
    if (interrupted())
        fail("interrupted; nothing written");
    if (resetting) {
        for (int i = 0; i < chip.resetLength; ++i)
            bus.writeByte(chip.reset[i]);
        bus.forgetHourMode();
        block = bus.calendarBlock(fields);
    }
    if (enabling)
        bus.writeByte(enable);
    bus.write(chip.calendarRegister, block.data(), block.size());

    unsigned char back[CALENDAR_SIZE];
    bus.readCalendar(back);
    if (!validCalendar(back) || std::llabs(calendarInstant(back, utc) - value) > 1)
        fail("the chip did not keep the time written; check 'quillo-rtc status' and the wiring");
}

void confirm(bool yes, const std::string& question)
{
    if (yes)
        return;
    (void)fprintf(stderr, "%s [y/N] ", question.c_str());
    char answer[16] = {};
    const bool answered = nullptr != fgets(answer, sizeof answer, stdin);
    if (!answered)
        (void)fputc('\n', stderr); // the failure on a line of its own
    if (!answered || ('y' != answer[0] && 'Y' != answer[0]))
        fail("not confirmed; nothing written (-y skips the question)");
}

bool chipRecord(const Options& options, const ChipModel& chip, DriftRecord* record,
    DriftRecord* found, bool* existing)
{
    DriftRecord loaded;
    std::string problem;
    const DriftLoad load = loadDriftRecord(options.driftFile.c_str(), &loaded, &problem);
    if (existing)
        *existing = DriftLoad::LOADED == load;
    if (found)
        *found = loaded;
    if (DriftLoad::REFUSED == load)
        warn("%s; not used", problem.c_str());
    if (DriftLoad::LOADED != load)
        return false;
    const DriftRecord::Clock clock = options.utc ? DriftRecord::UTC : DriftRecord::LOCAL;
    if (loaded.chip != chip.name || loaded.clock != clock) {
        // Another chip's rate, or a time read in another zone, would correct by nonsense.
        warn("the drift record %s is for an %s keeping %s time, not this %s keeping %s time; not "
             "used",
            options.driftFile.c_str(), loaded.chip.c_str(),
            DriftRecord::UTC == loaded.clock ? "UTC" : "local", chip.name,
            options.utc ? "UTC" : "local");
        return false;
    }
    *record = loaded;
    return true;
}

DriftRecord freshRecord(const Options& options, const ChipModel& chip)
{
    DriftRecord record;
    record.chip = chip.name;
    record.clock = options.utc ? DriftRecord::UTC : DriftRecord::LOCAL;
    return record;
}

void saveRecord(const Options& options, const DriftRecord& record)
{
    std::string problem;
    if (!saveDriftRecord(options.driftFile.c_str(), record, &problem))
        fail("cannot save the drift record: %s", problem.c_str());
}

int detect(const Options& options)
{
    ChipBus bus(options.bus, options.force);
    std::vector<const ChipModel*> held;
    for (const ChipModel* chip : bus.answering(&held))
        printf("%s at %s on %s\n", chip->name, chip->addresses, options.bus.c_str());
    // A held address is most likely the chip itself, in its driver's hands.
    for (const ChipModel* chip : held)
        printf("%s at %s on %s: held by a kernel driver (--force probes it)\n", chip->name,
            chip->addresses, options.bus.c_str());
    return 0;
}

int readTime(const Options& options)
{
    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    unsigned char fields[CALENDAR_SIZE];
    bus.readCalendar(fields);
    const time_t instant = calendarInstant(fields, options.utc);
    const bool lost = powerLost(bus);
    const std::string text = isoTime(instant, options.utc);
    // The reading less what the chip has gained since it was last set right.
    DriftRecord record;
    double corrected = 0;
    const bool adjusted = options.adjust && chipRecord(options, bus.chip(), &record)
        && correctChipTime(record, static_cast<double>(instant), &corrected);
    if (options.adjust && !adjusted)
        warn("no drift record with a rate and the time of the last set at %s; nothing to adjust "
             "by",
            options.driftFile.c_str());
    const std::string adjustedText
        = adjusted ? isoTime(static_cast<time_t>(std::lround(corrected)), options.utc) : "";
    if (options.json) {
        printf("{\"chip\":\"%s\",\"time\":\"%s\",\"epoch\":%lld,\"zone\":\"%s\",\"power_lost\":%s",
            bus.chip().name, text.c_str(), static_cast<long long>(instant),
            options.utc ? "utc" : "local", lost ? "true" : "false");
        if (adjusted)
            printf(",\"adjusted\":\"%s\",\"adjustment_s\":%.3f", adjustedText.c_str(),
                corrected - static_cast<double>(instant));
        printf("}\n");
    } else {
        printf("%s\n", text.c_str());
        if (adjusted)
            printf("%s adjusted by %+.3f s\n", adjustedText.c_str(),
                corrected - static_cast<double>(instant));
    }
    if (lost)
        warn("the chip reports a power loss, so this time may be wrong; see 'quillo-rtc status'");
    return 0;
}

int setTime(const Options& options)
{
    const std::string& text = options.words[1];
    const double invoked = realNow();
    time_t base = static_cast<time_t>(std::floor(invoked));
    if ("now" != text && !parseIso(text.c_str(), &base))
        usageError(
            "\"%s\" is not a valid time; give ISO 8601, e.g. 2031-07-09T21:08:57+09:00, or 'now'",
            text.c_str());
    // As hwclock does: the write lands on the start of a system second, which also restarts the
    // chip's divider, so the chip counts in step. TIME stands for the second of the invocation,
    // so the chip receives it plus one: that is the time checked against the chip's years.
    const double edge = std::floor(invoked) + 1.0;
    const time_t value = base + 1;
    unsigned char fields[CALENDAR_SIZE];
    calendarFor(value, options.utc, fields);

    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    writeCalendarAt(bus, edge, fields, value, options.utc, false);
    printf("%s\n", isoTime(value, options.utc).c_str());
    return 0;
}

int status(const Options& options)
{
    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    const int reg = chip.statusRegister;
    unsigned char s = bus.readByte(reg);
    const unsigned char clearable = chip.clearableBits(reg);
    if (options.clear && (s & clearable)) {
        if (chip.reset) {
            // Only a reset clears these flags, and it zeroes the calendar: keep the time across
            // it (less its fraction of a second).
            unsigned char fields[CALENDAR_SIZE];
            bus.readCalendar(fields);
            for (int i = 0; i < chip.resetLength; ++i)
                bus.writeByte(chip.reset[i]);
            bus.forgetHourMode();
            if (validCalendar(fields)) {
                const std::vector<unsigned char> block = bus.calendarBlock(fields);
                bus.write(chip.calendarRegister, block.data(), block.size());
            }
        } else {
            // Writing 0 to a flag clears it; the control bits keep their values.
            bus.writeByte({ reg, static_cast<unsigned char>(s & ~clearable) });
        }
        s = bus.readByte(reg);
    }
    std::vector<bool> set;
    for (int i = 0; i < chip.flagCount; ++i) {
        const ChipFlag& f = chip.flags[i];
        set.push_back(f.reg == reg ? 0 != (s & f.bit) : bus.flagSet(f));
    }
    if (options.json) {
        printf("{\"chip\":\"%s\",\"status\":\"0x%02x\"", chip.name, s);
        for (int i = 0; i < chip.flagCount; ++i)
            printf(",\"%s\":%s", chip.flags[i].key, set[i] ? "true" : "false");
        printf("}\n");
    } else {
        printf(
            "%s at %s on %s: status 0x%02x\n", chip.name, chip.addresses, options.bus.c_str(), s);
        for (int i = 0; i < chip.flagCount; ++i)
            printf("  %-14s %s\n", chip.flags[i].name, set[i] ? "yes" : "no");
    }
    return 0;
}

int reg(const Options& options)
{
    const bool setting = "set" == options.words[1];
    if ((!setting && "get" != options.words[1]) || options.words.size() != (setting ? 4u : 3u))
        usageError("give 'reg get ADDR' or 'reg set ADDR VALUE'");
    if (!setting && (options.yes || options.dryRun))
        usageError("-y and --dry-run go with 'reg set'");

    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    const long last = chip.registers[chip.registerCount - 1].number;
    long number = 0, value = 0;
    if (!parseNumber(options.words[2].c_str(), last, &number)
        || !chip.findRegister(static_cast<int>(number)))
        usageError("ADDR \"%s\" is not a register of the %s (0x00 to 0x%02lx)",
            options.words[2].c_str(), chip.name, last);
    if (setting && !parseNumber(options.words[3].c_str(), 0xFF, &value))
        usageError("VALUE \"%s\" is not a byte (0x00 to 0xff)", options.words[3].c_str());
    const int n = static_cast<int>(number);
    const ChipRegister& r = *chip.findRegister(n);
    if (setting) {
        if (r.size > 1)
            fail("register %ld of the %s holds %d bytes; use 'set' for the time", number, chip.name,
                r.size);
        const unsigned char byte = static_cast<unsigned char>(value);
        if (options.dryRun) {
            const ChipBus::Transfer t = bus.transferFor(n, &byte, 1);
            printf("would write to 0x%02x:", t.address);
            for (unsigned char b : t.bytes)
                printf(" %02x", b);
            printf("\n");
            return 0;
        }
        char question[256];
        (void)snprintf(question, sizeof question,
            "Write 0x%02lx to register 0x%02lx of the %s on %s?", value, number, chip.name,
            options.bus.c_str());
        confirm(options.yes, question);
        bus.write(n, &byte, 1);
    }
    std::vector<unsigned char> back(static_cast<size_t>(r.size));
    bus.read(n, back.data(), back.size());
    for (size_t i = 0; i < back.size(); ++i)
        printf(i ? " 0x%02x" : "0x%02x", back[i]);
    printf("\n");
    if (setting && back[0] != value)
        warn("register 0x%02lx reads back 0x%02x, not 0x%02lx (flag or protected bits)", number,
            back[0], value);
    return 0;
}

namespace {

// A field's value as text: a number, yes/no (true/false in JSON), or for BCD that is no BCD,
// "invalid (0x..)" (null in JSON).
std::string fieldValue(const RegisterField& f, const unsigned char* bytes, bool json)
{
    int shift = 0;
    while (!((f.mask >> shift) & 1))
        ++shift;
    const unsigned value = (bytes[f.offset] & f.mask) >> shift;
    char text[32];
    switch (f.kind) {
    case FieldKind::FLAG:
        return value ? (json ? "true" : "yes") : (json ? "false" : "no");
    case FieldKind::BCD:
        if (!isBcd(static_cast<unsigned char>(value))) {
            (void)snprintf(text, sizeof text, "invalid (0x%02x)", value);
            return json ? "null" : text;
        }
        (void)snprintf(text, sizeof text, "%d", fromBcd(static_cast<unsigned char>(value)));
        return text;
    case FieldKind::DIGITAL_TRIM_PPM:
        (void)snprintf(text, sizeof text, "%d", isl1208DtrPpm(static_cast<uint8_t>(value)));
        return text;
    case FieldKind::NUMBER:
        break;
    }
    (void)snprintf(text, sizeof text, "%u", value);
    return text;
}

} // namespace

int dump(const Options& options)
{
    ChipBus bus(options.bus, options.force);
    bus.choose(options.chip);
    const ChipModel& chip = bus.chip();
    // A chip with a pointer gives all of its registers in one read, all of one instant.
    std::vector<std::vector<unsigned char>> values;
    if (chip.registerPointer) {
        std::vector<unsigned char> all(static_cast<size_t>(chip.registerCount));
        bus.read(chip.registers[0].number, all.data(), all.size());
        for (unsigned char b : all)
            values.push_back({ b });
    } else {
        for (int i = 0; i < chip.registerCount; ++i) {
            values.emplace_back(static_cast<size_t>(chip.registers[i].size));
            bus.read(chip.registers[i].number, values.back().data(), values.back().size());
        }
    }
    if (options.json)
        printf("{\"chip\":\"%s\",\"registers\":{", chip.name);
    else
        printf("%s at %s on %s\n", chip.name, chip.addresses, options.bus.c_str());
    for (int i = 0; i < chip.registerCount; ++i) {
        const ChipRegister& r = chip.registers[i];
        const std::vector<unsigned char>& v = values[static_cast<size_t>(i)];
        std::string bytes, fields;
        for (size_t k = 0; k < v.size(); ++k) {
            char hex[8];
            (void)snprintf(hex, sizeof hex, options.json ? "%s\"0x%02x\"" : "%s%02x",
                k ? (options.json ? "," : " ") : "", v[k]);
            bytes += hex;
        }
        for (int k = 0; k < r.fieldCount; ++k) {
            const RegisterField& f = r.fields[k];
            if (options.json)
                fields += std::string(k ? "," : "") + "\"" + f.key
                    + "\":" + fieldValue(f, v.data(), true);
            else
                fields
                    += std::string(k ? ", " : "") + f.name + " " + fieldValue(f, v.data(), false);
        }
        if (options.json)
            printf("%s\"%s\":{\"number\":%d,\"bytes\":[%s],\"fields\":{%s}}", i ? "," : "", r.key,
                r.number, bytes.c_str(), fields.c_str());
        else
            printf("  0x%02x %-17s %-20s %s\n", r.number, r.name, bytes.c_str(),
                r.fieldCount ? fields.c_str() : "(raw)");
    }
    if (options.json)
        printf("}}\n");
    return 0;
}

} // namespace Kovan
