// The two supported clock chips, each described once as data: bus addresses, register map, status
// flags, fixed write sequences and bit order. quillo's chip helpers and every quillo-rtc command
// read these tables instead of asking which chip they have.
//
// Bits and bytes here are always in the chip's own order. The S35391A shifts each byte out least
// significant bit first, so its bytes cross the bus bit-reversed; toChipOrder is the one place
// that turns bus bytes into chip bytes and back.
#pragma once

#include <cstddef>

namespace Kovan {

enum class BitOrder { AS_IS, REVERSED };

// The seven calendar fields, packed BCD, in the order the S35391A sends them.
enum CalendarField { YEAR, MONTH, MDAY, WDAY, HOUR, MINUTE, SECOND, CALENDAR_SIZE };
// Both chips keep flag bits above the BCD hour.
constexpr unsigned char HOUR_MASK = 0x3F;

// How a field of a register reads: a BCD number, a plain number, a yes/no flag, or the ISL1208's
// digital trim (steps of 20 ppm, bit 2 the sign).
enum class FieldKind { BCD, NUMBER, FLAG, DIGITAL_TRIM_PPM };

struct RegisterField {
    int offset; // byte within the register
    unsigned char mask;
    const char* name; // for people
    const char* key; // for JSON
    FieldKind kind;
};

struct ChipRegister {
    int number; // as 'reg get' takes it: the ISL1208's register pointer, the S35391A's command
    const char* name;
    const char* key;
    int size; // bytes
    // Decoded fields; a register without any is shown raw (its meaning is not known here).
    const RegisterField* fields;
    int fieldCount;
};

// A status flag: the register it lives in, its bit, and what it means to this tool.
struct ChipFlag {
    int reg;
    unsigned char bit;
    const char* name;
    const char* key;
    bool clearable; // 'status --clear' clears it
    bool powerLoss; // set: the chip lost its supply, so its time may be wrong
};

// One byte written to a one-byte register.
struct RegisterWrite {
    int reg; // -1: no such write on this chip
    unsigned char value;
};

struct ChipModel {
    const char* name; // as --chip takes it
    int selector; // quillo's SlaveAddr, also the calendar's bus address
    int firstAddress; // the bus addresses the chip answers
    int lastAddress;
    const char* addresses; // the same, for messages
    // Each transfer begins with a register number (written alone before a read): the ISL1208.
    // Without one, each register has a bus address of its own (first address + number).
    bool registerPointer;
    BitOrder bitOrder;
    const ChipRegister* registers;
    int registerCount;
    int statusRegister;
    // The register the calendar starts at, where each field lies in its bytes, and how many bytes
    // quillo reads with it (the ISL1208 its status register too).
    int calendarRegister;
    int calendarAt[CALENDAR_SIZE];
    int calendarReadLength;
    // The hour's afternoon flag in 12-hour mode, and the flag that says 24-hour mode; a chip with
    // no afternoon flag here is always read and written as 24-hour.
    unsigned char hourPm;
    int hour24Flag; // index into flags
    const ChipFlag* flags;
    int flagCount;
    // The reset that clears the power-loss flags, the calendar with them, then selects 24-hour
    // mode. A chip without one clears its flags by writing 0 to them.
    const RegisterWrite* reset;
    int resetLength;
    RegisterWrite hour24; // selects 24-hour mode
    RegisterWrite writeEnable; // a calendar write needs this bit set first
    // The oscillator's trimming registers quillo-rtc knows (Isl1208Trim.h), or -1: the ISL1208's
    // analog and digital trimming; the S35391A's correction register is not supported.
    int analogTrimRegister;
    int digitalTrimRegister;

    // The register `number`, or nullptr.
    const ChipRegister* findRegister(int number) const;
    // Where a transfer to register `number` goes on the bus.
    int busAddress(int number) const;
    // The bus address that answers whether the chip is there.
    int probeAddress() const;
    // The OR of the flags' bits in `reg` that mean a power loss, or that 'status --clear' clears.
    unsigned char powerLossBits(int reg) const;
    unsigned char clearableBits(int reg) const;
};

extern const ChipModel S35391A_CHIP;
extern const ChipModel ISL1208_CHIP;
// In the order detect and --chip auto try them.
extern const ChipModel* const CHIPS[2];

// The chip quillo's SlaveAddr selects, or nullptr for neither.
const ChipModel* chipBySelector(int selector);
// The chip --chip names, or nullptr.
const ChipModel* chipByName(const char* name);

// Bus bytes to chip bytes and back (the same operation: reversal is its own inverse).
void toChipOrder(const ChipModel& chip, unsigned char* bytes, size_t length);
unsigned char reverseBits(unsigned char byte);

// The calendar block in chip order (from calendarRegister on) to the seven fields, and back.
void calendarFromBlock(const ChipModel& chip, const unsigned char* block, unsigned char* fields);
void calendarToBlock(const ChipModel& chip, const unsigned char* fields, unsigned char* block);

} // namespace Kovan
