#include "tool/RtcChip.h"

#include "foundation/Bcd.h"

#include <cstdio>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Kovan {

const char* const I2C_DEVICE = "/dev/i2c-0";

int _i2cFd = -1;
int _slave = 0;

namespace {

const ChipModel* selected() { return chipBySelector(_slave); }

void setBusAddress(int address) { (void)ioctl(_i2cFd, I2C_SLAVE, address); }

// A one-byte register write as quillo makes it: a plain transfer to the register's bus address
// (selected by the caller), the register number first where the chip has a pointer.
void writeRegister(const ChipModel& chip, const RegisterWrite& w)
{
    unsigned char value = w.value;
    toChipOrder(chip, &value, 1);
    if (chip.registerPointer) {
        const unsigned char bytes[2] = { static_cast<unsigned char>(w.reg), value };
        writeArray(bytes, 2);
    } else {
        writeArray(&value, 1);
    }
}

} // namespace

bool openI2c()
{
    _i2cFd = open(I2C_DEVICE, O_RDWR);
    return -1 != _i2cFd;
}

void closeI2c()
{
    if (-1 != _i2cFd)
        close(_i2cFd);
}

void init()
{
    const ChipModel* chip = selected();
    if (!chip)
        return;
    if (chip->reset) {
        // A chip that reports a power loss at start: its status is read and printed first.
        setBusAddress(chip->busAddress(chip->statusRegister));
        unsigned char status = 0;
        (void)read(_i2cFd, &status, 1);
        toChipOrder(*chip, &status, 1);
        printf("0x%02x\n", status);
        if (status & chip->powerLossBits(chip->statusRegister)) {
            // After a power loss the calendar is garbage: reset the chip, which also drops it
            // back to 12-hour mode until the reset's last step.
            for (int i = 0; i < chip->resetLength; ++i)
                writeRegister(*chip, chip->reset[i]);
        } else if (!(status & chip->flags[chip->hour24Flag].bit)) {
            writeRegister(*chip, chip->hour24);
        }
        setBusAddress(_slave);
    } else {
        // The write-enable bit alone: quillo writes the status register whole.
        setBusAddress(chip->firstAddress);
        writeRegister(*chip, chip->writeEnable);
    }
}

int writeArray(const unsigned char* data, int length)
{
    return static_cast<int>(write(_i2cFd, data, length));
}

int readArray(unsigned char* buffer, int length)
{
    const ChipModel* chip = selected();
    if (chip && chip->registerPointer)
        (void)write(_i2cFd, buffer, 1);
    (void)read(_i2cFd, buffer, length);
    return length;
}

int readRtc(tm* t)
{
    const ChipModel* chip = selected();
    if (!chip)
        return 0;
    // The block starts with the register pointer's byte where the chip has one: 0x00, the
    // calendar's first register.
    unsigned char b[8] = { static_cast<unsigned char>(chip->calendarRegister) };
    readArray(b, chip->calendarReadLength);
    toChipOrder(*chip, b, static_cast<size_t>(chip->calendarReadLength));
    unsigned char fields[CALENDAR_SIZE];
    calendarFromBlock(*chip, b, fields);
    fieldsToTm(fields, t);
    t->tm_yday = 0;
    t->tm_isdst = 0;
    return 0;
}

void writeRtc(const tm* t)
{
    const ChipModel* chip = selected();
    if (!chip)
        return;
    unsigned char fields[CALENDAR_SIZE];
    tmToFields(t, fields);
    if (chip->hourPm && t->tm_hour > 11)
        fields[HOUR] = static_cast<unsigned char>(fields[HOUR] + chip->hourPm);
    // With a register pointer the calendar's first register goes first: the whole calendar is one
    // auto-incrementing transfer.
    unsigned char b[1 + CALENDAR_SIZE] = { static_cast<unsigned char>(chip->calendarRegister) };
    const int pointer = chip->registerPointer ? 1 : 0;
    calendarToBlock(*chip, fields, b + pointer);
    toChipOrder(*chip, b + pointer, CALENDAR_SIZE);
    writeArray(b, pointer + CALENDAR_SIZE);
}

void fieldsToTm(const unsigned char* fields, tm* t)
{
    t->tm_year = BCD_TO_DEC(fields[YEAR]) + 100;
    t->tm_mon = BCD_TO_DEC(fields[MONTH]) - 1;
    t->tm_mday = BCD_TO_DEC(fields[MDAY]);
    t->tm_wday = BCD_TO_DEC(fields[WDAY]);
    t->tm_hour = BCD_TO_DEC(fields[HOUR] & HOUR_MASK);
    t->tm_min = BCD_TO_DEC(fields[MINUTE]);
    t->tm_sec = BCD_TO_DEC(fields[SECOND]);
}

void tmToFields(const tm* t, unsigned char* fields)
{
    // Wrapping arithmetic: any int the command line gave is encoded, never undefined.
    const auto plus = [](int value, int add) {
        return static_cast<int>(static_cast<unsigned>(value) + static_cast<unsigned>(add));
    };
    fields[YEAR] = DEC_TO_BCD(plus(t->tm_year, -100));
    fields[MONTH] = DEC_TO_BCD(plus(t->tm_mon, 1));
    fields[MDAY] = DEC_TO_BCD(t->tm_mday);
    fields[WDAY] = DEC_TO_BCD(t->tm_wday);
    fields[HOUR] = DEC_TO_BCD(t->tm_hour);
    fields[MINUTE] = DEC_TO_BCD(t->tm_min);
    fields[SECOND] = DEC_TO_BCD(t->tm_sec);
}

void readAddress(unsigned char address)
{
    unsigned char buffer[2] = { address, 0 };
    readArray(buffer, 1);
    printf("[Read Rtc Address] Addr 0x%02x = 0x%02x\n", address, buffer[0]);
}

void writeAddress(unsigned char address, unsigned char value)
{
    unsigned char buffer[2] = { address, value };
    writeArray(buffer, 2);
    readArray(buffer, 1);
    printf("[Write Rtc Address] Addr 0x%02x = 0x%02x (0x%02x)\n", address, value, buffer[0]);
}

void printRtc(const tm* t)
{
    printf("RTC   - ");
    printDateTime(t, "\n");
}

void printDateTime(const tm* t, const char* ending)
{
    printf("DATE: %4d-%2d-%2d(%1d) - ", t->tm_year + 1900, t->tm_mon + 1, t->tm_mday, t->tm_wday);
    printf("TIME: %2d-%2d-%2d%s", t->tm_hour, t->tm_min, t->tm_sec, ending);
}

void flipByteOrder(unsigned char* byte) { *byte = reverseBits(*byte); }

unsigned char DEC_TO_BCD(int value) { return toBcd(value); }

int BCD_TO_DEC(unsigned char value) { return fromBcd(value); }

} // namespace Kovan
