// The clock chip on the board's first I2C bus: bus access, the two supported chips' calendar
// blocks and status handling, raw register access for bench work, and the tool's line format.
//
// Everything works on the bus descriptor `_i2cFd` and the chip selector `_slave`; a selector that
// names neither chip turns every chip operation into a no-op, while raw transfers still reach the
// bus. Transfer results are deliberately ignored: the tool reports what it read, zeros included.
// This is quillo's behaviour, kept byte for byte on the bus; quillo-rtc reaches the chip through
// ChipBus instead, where every transfer is checked. Both read the chips' facts from ChipModel.h.
#pragma once

#include "tool/ChipModel.h"

#include <ctime>

namespace Kovan {

extern const char* const I2C_DEVICE;

// Descriptor of the opened bus device; -1 while not open.
extern int _i2cFd;
// Chip selector: a chip's selector (ChipModel), or anything else for no chip.
extern int _slave;

// Opens the bus read-write into _i2cFd; false when it cannot be opened.
bool openI2c();
void closeI2c();

// Prepares the selected chip: the S35391A prints its status byte ("0x%02x\n"), recovers from a
// power-on or low-battery state and is put in 24-hour mode; the ISL1208 gets its RTC writes
// enabled.
void init();

// One write of `length` bytes; returns write()'s result.
int writeArray(const unsigned char* data, int length);
// On the ISL1208 the buffer's first byte is first written alone as the register pointer; then one
// read of `length` bytes into the buffer. Returns `length` whatever was read.
int readArray(unsigned char* buffer, int length);

// Overwrites the calendar fields of `t` (plus tm_yday and tm_isdst, set to 0) with the chip's
// calendar; with no chip selected `t` is left untouched. Always returns 0.
int readRtc(tm* t);
// Writes the calendar fields of `t` to the chip in one transfer.
void writeRtc(const tm* t);

// Raw register access, printed as "[Read Rtc Address] ..." and "[Write Rtc Address] ..." lines.
void readAddress(unsigned char address);
void writeAddress(unsigned char address, unsigned char value);

// BCD fields to the seven calendar fields of `t` (hour masked to 0-23's bits), and back.
void fieldsToTm(const unsigned char* fields, tm* t);
void tmToFields(const tm* t, unsigned char* fields);

// "RTC   - DATE: yyyy-mm-dd(w) - TIME: hh-mm-ss\n", fields blank-padded.
void printRtc(const tm* t);
// The tool's one date line, "DATE: yyyy-mm-dd(w) - TIME: hh-mm-ss" and `ending`, as printRtc,
// the repeated read and the drift test print it.
void printDateTime(const tm* t, const char* ending);

// The S35391A shifts each byte out least significant bit first: bit i becomes bit 7 - i.
void flipByteOrder(unsigned char* byte);
unsigned char DEC_TO_BCD(int value);
int BCD_TO_DEC(unsigned char value);

} // namespace Kovan
