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

bool isS35391A() { return S35391A_ADDRESS == _slave; }
bool isIsl1208() { return ISL1208_ADDRESS == _slave; }

void setBusAddress(int address) { (void)ioctl(_i2cFd, I2C_SLAVE, address); }

void writeS35391AStatus(unsigned char status)
{
    flipByteOrder(&status);
    writeArray(&status, 1);
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
    if (isS35391A()) {
        setBusAddress(S35391A_STATUS_ADDRESS);
        unsigned char status = 0;
        (void)read(_i2cFd, &status, 1);
        flipByteOrder(&status);
        printf("0x%02x\n", status);
        if (status & (S35391A_POWER_ON | S35391A_BATTERY_LOW)) {
            // After a power loss the calendar is garbage: reset the chip, which also drops it
            // back to 12-hour mode.
            writeS35391AStatus(S35391A_RESET);
            writeS35391AStatus(S35391A_24_HOUR);
        } else if (!(status & S35391A_24_HOUR)) {
            writeS35391AStatus(S35391A_24_HOUR);
        }
        setBusAddress(_slave);
    } else if (isIsl1208()) {
        setBusAddress(ISL1208_ADDRESS);
        const unsigned char enable[2] = { ISL1208_STATUS_REGISTER, ISL1208_WRITE_ENABLE };
        writeArray(enable, 2);
    }
}

int writeArray(const unsigned char* data, int length)
{
    return static_cast<int>(write(_i2cFd, data, length));
}

int readArray(unsigned char* buffer, int length)
{
    if (isIsl1208())
        (void)write(_i2cFd, buffer, 1);
    (void)read(_i2cFd, buffer, length);
    return length;
}

int readRtc(tm* t)
{
    if (!isS35391A() && !isIsl1208())
        return 0;
    // The ISL1208 reads its status register 0x07 too, into the eighth byte.
    unsigned char b[8] = {};
    readArray(b, isS35391A() ? CALENDAR_SIZE : 8);
    unsigned char fields[CALENDAR_SIZE];
    calendarFromBus(_slave, b, fields);
    fieldsToTm(fields, t);
    t->tm_yday = 0;
    t->tm_isdst = 0;
    return 0;
}

void writeRtc(const tm* t)
{
    if (!isS35391A() && !isIsl1208())
        return;
    unsigned char fields[CALENDAR_SIZE];
    tmToFields(t, fields);
    if (isS35391A() && t->tm_hour > 11)
        fields[HOUR] = static_cast<unsigned char>(fields[HOUR] + HOUR_PM);
    // The ISL1208's register pointer 0x00 first: the whole calendar goes in one auto-incrementing
    // transfer.
    unsigned char b[1 + CALENDAR_SIZE] = {};
    const int pointer = isIsl1208() ? 1 : 0;
    calendarToBus(_slave, fields, b + pointer);
    writeArray(b, pointer + CALENDAR_SIZE);
}

namespace {

// Where each field sits in the ISL1208's registers 0x00-0x06.
constexpr int ISL1208_REGISTER_OF[CALENDAR_SIZE] = { 5, 4, 3, 6, 2, 1, 0 };

} // namespace

void calendarFromBus(int chip, const unsigned char* bus, unsigned char* fields)
{
    for (int f = 0; f < CALENDAR_SIZE; ++f) {
        if (S35391A_ADDRESS == chip) {
            fields[f] = bus[f];
            flipByteOrder(&fields[f]);
        } else {
            fields[f] = bus[ISL1208_REGISTER_OF[f]];
        }
    }
}

void calendarToBus(int chip, const unsigned char* fields, unsigned char* bus)
{
    for (int f = 0; f < CALENDAR_SIZE; ++f) {
        if (S35391A_ADDRESS == chip) {
            bus[f] = fields[f];
            flipByteOrder(&bus[f]);
        } else {
            bus[ISL1208_REGISTER_OF[f]] = fields[f];
        }
    }
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

void flipByteOrder(unsigned char* byte)
{
    unsigned char in = *byte;
    unsigned char out = 0;
    for (int i = 0; i < 8; ++i) {
        out = static_cast<unsigned char>((out << 1) | (in & 1));
        in = static_cast<unsigned char>(in >> 1);
    }
    *byte = out;
}

unsigned char DEC_TO_BCD(int value) { return toBcd(value); }

int BCD_TO_DEC(unsigned char value) { return fromBcd(value); }

} // namespace Kovan
