#include "tool/ChipModel.h"

#include "tool/Isl1208Trim.h"

#include <cstring>

namespace Kovan {

namespace {

constexpr int NO_FIELDS = 0; // a register shown raw

template <typename T, size_t N> constexpr int countOf(const T (&)[N])
{
    return static_cast<int>(N);
}

// --- S35391A -------------------------------------------------------------------------------------
// One command per bus address, 0x58 + register number; no register pointer. Status register 1's
// reset bit reads as 0; its two free bits keep what is written.

constexpr RegisterField S35_STATUS1[] = {
    { 0, 0x80, "power-on", "power_on", FieldKind::FLAG },
    { 0, 0x40, "battery low", "battery_low", FieldKind::FLAG },
    { 0, 0x20, "alarm 2", "alarm2", FieldKind::FLAG },
    { 0, 0x10, "alarm 1", "alarm1", FieldKind::FLAG },
    { 0, 0x0C, "free bits", "free_bits", FieldKind::NUMBER },
    { 0, 0x02, "24-hour", "hour24", FieldKind::FLAG },
};
constexpr RegisterField S35_STATUS2[] = {
    { 0, 0x80, "test", "test", FieldKind::FLAG },
    { 0, 0x40, "alarm 2 interrupt", "int2_alarm", FieldKind::FLAG },
    { 0, 0x20, "minute 2 interrupt", "int2_minute", FieldKind::FLAG },
    { 0, 0x10, "frequency 2 interrupt", "int2_frequency", FieldKind::FLAG },
    { 0, 0x08, "32 kHz output", "out_32khz", FieldKind::FLAG },
    { 0, 0x04, "alarm 1 interrupt", "int1_alarm", FieldKind::FLAG },
    { 0, 0x02, "minute 1 interrupt", "int1_minute", FieldKind::FLAG },
    { 0, 0x01, "frequency 1 interrupt", "int1_frequency", FieldKind::FLAG },
};
constexpr RegisterField S35_CALENDAR[] = {
    { 0, 0xFF, "year", "year", FieldKind::BCD },
    { 1, 0x1F, "month", "month", FieldKind::BCD },
    { 2, 0x3F, "day", "day", FieldKind::BCD },
    { 3, 0x07, "weekday", "weekday", FieldKind::NUMBER },
    { 4, 0x3F, "hour", "hour", FieldKind::BCD },
    { 4, 0x40, "afternoon", "pm", FieldKind::FLAG },
    { 5, 0x7F, "minute", "minute", FieldKind::BCD },
    { 6, 0x7F, "second", "second", FieldKind::BCD },
};
constexpr RegisterField S35_TIME[] = {
    { 0, 0x3F, "hour", "hour", FieldKind::BCD },
    { 0, 0x40, "afternoon", "pm", FieldKind::FLAG },
    { 1, 0x7F, "minute", "minute", FieldKind::BCD },
    { 2, 0x7F, "second", "second", FieldKind::BCD },
};
// Each alarm byte carries its own enable bit; the alarm fires at second 0.
constexpr RegisterField S35_ALARM[] = {
    { 0, 0x80, "weekday enabled", "weekday_enabled", FieldKind::FLAG },
    { 0, 0x07, "weekday", "weekday", FieldKind::NUMBER },
    { 1, 0x80, "hour enabled", "hour_enabled", FieldKind::FLAG },
    { 1, 0x3F, "hour", "hour", FieldKind::BCD },
    { 1, 0x40, "afternoon", "pm", FieldKind::FLAG },
    { 2, 0x80, "minute enabled", "minute_enabled", FieldKind::FLAG },
    { 2, 0x7F, "minute", "minute", FieldKind::BCD },
};

constexpr ChipRegister S35_REGISTERS[] = {
    { 0, "status 1", "status1", 1, S35_STATUS1, countOf(S35_STATUS1) },
    { 1, "status 2", "status2", 1, S35_STATUS2, countOf(S35_STATUS2) },
    { 2, "calendar", "calendar", 7, S35_CALENDAR, countOf(S35_CALENDAR) },
    { 3, "time", "time", 3, S35_TIME, countOf(S35_TIME) },
    { 4, "alarm 1", "alarm1", 3, S35_ALARM, countOf(S35_ALARM) },
    { 5, "alarm 2", "alarm2", 3, S35_ALARM, countOf(S35_ALARM) },
    { 6, "clock correction", "correction", 1, nullptr, NO_FIELDS },
    { 7, "free register", "free", 1, nullptr, NO_FIELDS },
};

constexpr ChipFlag S35_FLAGS[] = {
    { 0, 0x80, "power failure", "power_failure", true, true },
    { 0, 0x40, "battery low", "battery_low", true, true },
    { 0, 0x10, "alarm 1", "alarm1", false, false },
    { 0, 0x20, "alarm 2", "alarm2", false, false },
    { 0, 0x02, "24-hour", "hour24", false, false },
};

// The reset clears the flags and zeroes the calendar, and leaves 12-hour mode behind it.
constexpr RegisterWrite S35_RESET[] = { { 0, 0x01 }, { 0, 0x02 } };

// --- ISL1208 -------------------------------------------------------------------------------------
// One bus address and a register pointer that advances with each byte. The calendar takes writes
// only while the status register's write-enable bit is set.

constexpr RegisterField ISL_SECONDS[] = { { 0, 0x7F, "second", "second", FieldKind::BCD } };
constexpr RegisterField ISL_MINUTES[] = { { 0, 0x7F, "minute", "minute", FieldKind::BCD } };
constexpr RegisterField ISL_HOURS[] = {
    { 0, 0x80, "24-hour", "hour24", FieldKind::FLAG },
    { 0, 0x3F, "hour", "hour", FieldKind::BCD },
};
constexpr RegisterField ISL_DAY[] = { { 0, 0x3F, "day", "day", FieldKind::BCD } };
constexpr RegisterField ISL_MONTH[] = { { 0, 0x1F, "month", "month", FieldKind::BCD } };
constexpr RegisterField ISL_YEAR[] = { { 0, 0xFF, "year", "year", FieldKind::BCD } };
constexpr RegisterField ISL_WEEKDAY[] = { { 0, 0x07, "weekday", "weekday", FieldKind::NUMBER } };
constexpr RegisterField ISL_STATUS[] = {
    { 0, 0x80, "auto reset", "auto_reset", FieldKind::FLAG },
    { 0, 0x40, "crystal off", "crystal_off", FieldKind::FLAG },
    { 0, 0x10, "write enable", "write_enable", FieldKind::FLAG },
    { 0, 0x04, "alarm", "alarm", FieldKind::FLAG },
    { 0, 0x02, "on battery", "on_battery", FieldKind::FLAG },
    { 0, 0x01, "power failure", "power_failure", FieldKind::FLAG },
};
constexpr RegisterField ISL_INTERRUPT[] = {
    { 0, 0x80, "interrupt mode", "interrupt_mode", FieldKind::FLAG },
    { 0, 0x40, "alarm enable", "alarm_enable", FieldKind::FLAG },
    { 0, 0x20, "low-power mode", "low_power", FieldKind::FLAG },
    { 0, 0x10, "no output on battery", "output_off_on_battery", FieldKind::FLAG },
    { 0, 0x0F, "frequency output", "frequency_output", FieldKind::NUMBER },
};
// The analog trim sets the crystal's load capacitance, in battery mode with its own two bits.
constexpr RegisterField ISL_ANALOG_TRIM[] = {
    { 0, 0xC0, "battery-mode trim", "battery_trim", FieldKind::NUMBER },
    { 0, 0x3F, "load trim", "load_trim", FieldKind::NUMBER },
};
constexpr RegisterField ISL_DIGITAL_TRIM[] = {
    { 0, 0x07, "ppm", "ppm", FieldKind::DIGITAL_TRIM_PPM },
};
constexpr RegisterField ISL_ALARM_SECOND[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x7F, "second", "second", FieldKind::BCD },
};
constexpr RegisterField ISL_ALARM_MINUTE[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x7F, "minute", "minute", FieldKind::BCD },
};
constexpr RegisterField ISL_ALARM_HOUR[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x3F, "hour", "hour", FieldKind::BCD },
};
constexpr RegisterField ISL_ALARM_DAY[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x3F, "day", "day", FieldKind::BCD },
};
constexpr RegisterField ISL_ALARM_MONTH[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x1F, "month", "month", FieldKind::BCD },
};
constexpr RegisterField ISL_ALARM_WEEKDAY[] = {
    { 0, 0x80, "enabled", "enabled", FieldKind::FLAG },
    { 0, 0x07, "weekday", "weekday", FieldKind::NUMBER },
};

#define KOVAN_FIELDS(table) table, countOf(table)
constexpr ChipRegister ISL_REGISTERS[] = {
    { 0x00, "seconds", "seconds", 1, KOVAN_FIELDS(ISL_SECONDS) },
    { 0x01, "minutes", "minutes", 1, KOVAN_FIELDS(ISL_MINUTES) },
    { 0x02, "hours", "hours", 1, KOVAN_FIELDS(ISL_HOURS) },
    { 0x03, "day", "day", 1, KOVAN_FIELDS(ISL_DAY) },
    { 0x04, "month", "month", 1, KOVAN_FIELDS(ISL_MONTH) },
    { 0x05, "year", "year", 1, KOVAN_FIELDS(ISL_YEAR) },
    { 0x06, "weekday", "weekday", 1, KOVAN_FIELDS(ISL_WEEKDAY) },
    { 0x07, "status", "status", 1, KOVAN_FIELDS(ISL_STATUS) },
    { 0x08, "interrupt", "interrupt", 1, KOVAN_FIELDS(ISL_INTERRUPT) },
    { 0x09, "reserved", "reserved", 1, nullptr, NO_FIELDS },
    { ISL1208_ATR_REGISTER, "analog trim", "analog_trim", 1, KOVAN_FIELDS(ISL_ANALOG_TRIM) },
    { ISL1208_DTR_REGISTER, "digital trim", "digital_trim", 1, KOVAN_FIELDS(ISL_DIGITAL_TRIM) },
    { 0x0C, "alarm second", "alarm_second", 1, KOVAN_FIELDS(ISL_ALARM_SECOND) },
    { 0x0D, "alarm minute", "alarm_minute", 1, KOVAN_FIELDS(ISL_ALARM_MINUTE) },
    { 0x0E, "alarm hour", "alarm_hour", 1, KOVAN_FIELDS(ISL_ALARM_HOUR) },
    { 0x0F, "alarm day", "alarm_day", 1, KOVAN_FIELDS(ISL_ALARM_DAY) },
    { 0x10, "alarm month", "alarm_month", 1, KOVAN_FIELDS(ISL_ALARM_MONTH) },
    { 0x11, "alarm weekday", "alarm_weekday", 1, KOVAN_FIELDS(ISL_ALARM_WEEKDAY) },
    { 0x12, "user 1", "user1", 1, nullptr, NO_FIELDS },
    { 0x13, "user 2", "user2", 1, nullptr, NO_FIELDS },
};
#undef KOVAN_FIELDS

// The 24-hour bit lives in the hour register, not with the status flags.
constexpr ChipFlag ISL_FLAGS[] = {
    { 0x07, 0x01, "power failure", "power_failure", true, true },
    { 0x07, 0x02, "on battery", "on_battery", true, false },
    { 0x07, 0x04, "alarm", "alarm", true, false },
    { 0x07, 0x10, "write enable", "write_enable", false, false },
    { 0x02, 0x80, "24-hour", "hour24", false, false },
};

unsigned char bitsOf(const ChipModel& chip, int reg, bool ChipFlag::*which)
{
    unsigned char bits = 0;
    for (int i = 0; i < chip.flagCount; ++i) {
        if (chip.flags[i].reg == reg && chip.flags[i].*which)
            bits = static_cast<unsigned char>(bits | chip.flags[i].bit);
    }
    return bits;
}

} // namespace

// Fields in the order of ChipModel: names and addresses; pointer and bit order; registers;
// status and calendar; hour mode; flags; sequences.
constexpr ChipModel S35391A_CHIP = {
    "s35391a",
    0x5A,
    0x58,
    0x5F,
    "0x58-0x5f",
    false,
    BitOrder::REVERSED,
    S35_REGISTERS,
    countOf(S35_REGISTERS),
    0,
    2,
    { 0, 1, 2, 3, 4, 5, 6 },
    7,
    0x40,
    4,
    S35_FLAGS,
    countOf(S35_FLAGS),
    S35_RESET,
    countOf(S35_RESET),
    { 0, 0x02 },
    { -1, 0 },
    -1,
    -1,
};

// quillo writes the hour without the 24-hour bit, and both programs read it masked as 0-23: the
// chip is treated as 24-hour throughout, so no afternoon flag is named.
constexpr ChipModel ISL1208_CHIP = {
    "isl1208",
    0x6F,
    0x6F,
    0x6F,
    "0x6f",
    true,
    BitOrder::AS_IS,
    ISL_REGISTERS,
    countOf(ISL_REGISTERS),
    0x07,
    0x00,
    { 5, 4, 3, 6, 2, 1, 0 },
    8,
    0x00,
    4,
    ISL_FLAGS,
    countOf(ISL_FLAGS),
    nullptr,
    0,
    { -1, 0 },
    { 0x07, 0x10 },
    ISL1208_ATR_REGISTER,
    ISL1208_DTR_REGISTER,
};

const ChipModel* const CHIPS[2] = { &ISL1208_CHIP, &S35391A_CHIP };

const ChipRegister* ChipModel::findRegister(int number) const
{
    for (int i = 0; i < registerCount; ++i) {
        if (registers[i].number == number)
            return &registers[i];
    }
    return nullptr;
}

int ChipModel::busAddress(int number) const
{
    return registerPointer ? firstAddress : firstAddress + number;
}

int ChipModel::probeAddress() const { return busAddress(statusRegister); }

unsigned char ChipModel::powerLossBits(int reg) const
{
    return bitsOf(*this, reg, &ChipFlag::powerLoss);
}

unsigned char ChipModel::clearableBits(int reg) const
{
    return bitsOf(*this, reg, &ChipFlag::clearable);
}

const ChipModel* chipBySelector(int selector)
{
    for (const ChipModel* chip : CHIPS) {
        if (chip->selector == selector)
            return chip;
    }
    return nullptr;
}

const ChipModel* chipByName(const char* name)
{
    for (const ChipModel* chip : CHIPS) {
        if (0 == strcmp(chip->name, name))
            return chip;
    }
    return nullptr;
}

unsigned char reverseBits(unsigned char byte)
{
    unsigned char out = 0;
    for (int i = 0; i < 8; ++i) {
        out = static_cast<unsigned char>((out << 1) | (byte & 1));
        byte = static_cast<unsigned char>(byte >> 1);
    }
    return out;
}

void toChipOrder(const ChipModel& chip, unsigned char* bytes, size_t length)
{
    if (BitOrder::AS_IS == chip.bitOrder)
        return;
    for (size_t i = 0; i < length; ++i)
        bytes[i] = reverseBits(bytes[i]);
}

void calendarFromBlock(const ChipModel& chip, const unsigned char* block, unsigned char* fields)
{
    for (int f = 0; f < CALENDAR_SIZE; ++f)
        fields[f] = block[chip.calendarAt[f]];
}

void calendarToBlock(const ChipModel& chip, const unsigned char* fields, unsigned char* block)
{
    for (int f = 0; f < CALENDAR_SIZE; ++f)
        block[chip.calendarAt[f]] = fields[f];
}

} // namespace Kovan
