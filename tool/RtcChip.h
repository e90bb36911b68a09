// The clock chip on the board's first I2C bus: bus access, the two supported chips' calendar
// blocks and status handling, raw register access for bench work, and the tool's line format.
//
// Everything works on the bus descriptor `_i2cFd` and the chip selector `_slave`; a selector that
// names neither chip turns every chip operation into a no-op, while raw transfers still reach the
// bus. Transfer results are deliberately ignored: the tool reports what it read, zeros included.
#pragma once

#include <ctime>

namespace Kovan {

// Bus addresses. The S35391A answers its status register and its calendar at separate
// addresses; the ISL1208 has one address and a register pointer.
constexpr int S35391A_STATUS_ADDRESS = 0x58;
constexpr int S35391A_ADDRESS = 0x5A;
constexpr int ISL1208_ADDRESS = 0x6F;
// The S35391A's last command address (0x58-0x5F: status 1 and 2, calendar, time, alarms, ...).
constexpr int S35391A_LAST_ADDRESS = 0x5F;

// S35391A status register 1, in the chip's own bit order (after flipByteOrder).
constexpr unsigned char S35391A_POWER_ON = 0x80;
constexpr unsigned char S35391A_BATTERY_LOW = 0x40;
constexpr unsigned char S35391A_ALARM2 = 0x20;
constexpr unsigned char S35391A_ALARM1 = 0x10;
constexpr unsigned char S35391A_24_HOUR = 0x02;
constexpr unsigned char S35391A_RESET = 0x01;
// Hour byte: the S35391A's afternoon flag; both chips keep flag bits above the BCD hour.
constexpr unsigned char HOUR_PM = 0x40;
constexpr unsigned char HOUR_MASK = 0x3F;
// ISL1208 status register and its bits; the hour register's 24-hour bit.
constexpr unsigned char ISL1208_STATUS_REGISTER = 0x07;
constexpr unsigned char ISL1208_POWER_FAILED = 0x01;
constexpr unsigned char ISL1208_ON_BATTERY = 0x02;
constexpr unsigned char ISL1208_ALARM = 0x04;
constexpr unsigned char ISL1208_WRITE_ENABLE = 0x10;
constexpr unsigned char ISL1208_HOUR_24 = 0x80;
// Registers 0x00-0x13 exist; 0x14 and above read as nothing.
constexpr int ISL1208_REGISTER_COUNT = 0x14;

// The seven calendar fields, packed BCD, in the order the S35391A sends them.
enum CalendarField { YEAR, MONTH, MDAY, WDAY, HOUR, MINUTE, SECOND, CALENDAR_SIZE };

extern const char* const I2C_DEVICE;

// Descriptor of the opened bus device; -1 while not open.
extern int _i2cFd;
// Chip selector: S35391A_ADDRESS, ISL1208_ADDRESS, or anything else for no chip.
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

// A calendar block as it crosses the bus (S35391A: bit-reversed, year first; ISL1208: registers
// 0x00-0x06, second first) to and from the fields above, for the chip `chip` (an address).
void calendarFromBus(int chip, const unsigned char* bus, unsigned char* fields);
void calendarToBus(int chip, const unsigned char* fields, unsigned char* bus);
// BCD fields to the seven calendar fields of `t` (hour masked with HOUR_MASK), and back.
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
