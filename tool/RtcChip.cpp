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

// S35391A status register bits, in the chip's own bit order (after flipByteOrder).
constexpr unsigned char STATUS_POWER_ON = 0x80;
constexpr unsigned char STATUS_BATTERY_LOW = 0x40;
constexpr unsigned char STATUS_24_HOUR = 0x02;
constexpr unsigned char STATUS_RESET = 0x01;
// Hour byte: the S35391A's afternoon flag; both chips keep flag bits above the BCD hour.
constexpr unsigned char HOUR_PM = 0x40;
constexpr unsigned char HOUR_MASK = 0x3F;
// ISL1208 status register and its write-enable bit for the calendar registers.
constexpr unsigned char ISL1208_STATUS_REGISTER = 0x07;
constexpr unsigned char ISL1208_WRITE_ENABLE = 0x10;

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
        if (status & (STATUS_POWER_ON | STATUS_BATTERY_LOW)) {
            // After a power loss the calendar is garbage: reset the chip, which also drops it
            // back to 12-hour mode.
            writeS35391AStatus(STATUS_RESET);
            writeS35391AStatus(STATUS_24_HOUR);
        } else if (!(status & STATUS_24_HOUR)) {
            writeS35391AStatus(STATUS_24_HOUR);
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
    unsigned char b[8] = {};
    if (isS35391A()) {
        readArray(b, 7);
        for (int i = 0; i < 7; ++i)
            flipByteOrder(&b[i]);
        b[4] &= HOUR_MASK;
        t->tm_year = BCD_TO_DEC(b[0]) + 100;
        t->tm_mon = BCD_TO_DEC(b[1]) - 1;
        t->tm_mday = BCD_TO_DEC(b[2]);
        t->tm_wday = BCD_TO_DEC(b[3]);
        t->tm_hour = BCD_TO_DEC(b[4]);
        t->tm_min = BCD_TO_DEC(b[5]);
        t->tm_sec = BCD_TO_DEC(b[6]);
    } else if (isIsl1208()) {
        readArray(b, 8);
        b[2] &= HOUR_MASK;
        t->tm_sec = BCD_TO_DEC(b[0]);
        t->tm_min = BCD_TO_DEC(b[1]);
        t->tm_hour = BCD_TO_DEC(b[2]);
        t->tm_mday = BCD_TO_DEC(b[3]);
        t->tm_mon = BCD_TO_DEC(b[4]) - 1;
        t->tm_year = BCD_TO_DEC(b[5]) + 100;
        t->tm_wday = BCD_TO_DEC(b[6]);
    } else {
        return 0;
    }
    t->tm_yday = 0;
    t->tm_isdst = 0;
    return 0;
}

void writeRtc(const tm* t)
{
    if (isS35391A()) {
        unsigned char b[7] = {
            DEC_TO_BCD(t->tm_year - 100),
            DEC_TO_BCD(t->tm_mon + 1),
            DEC_TO_BCD(t->tm_mday),
            DEC_TO_BCD(t->tm_wday),
            DEC_TO_BCD(t->tm_hour),
            DEC_TO_BCD(t->tm_min),
            DEC_TO_BCD(t->tm_sec),
        };
        if (t->tm_hour > 11)
            b[4] = static_cast<unsigned char>(b[4] + HOUR_PM);
        for (unsigned char& byte : b)
            flipByteOrder(&byte);
        writeArray(b, 7);
    } else if (isIsl1208()) {
        // Register pointer 0x00 first: the whole calendar goes in one auto-incrementing transfer.
        const unsigned char b[8] = {
            0x00,
            DEC_TO_BCD(t->tm_sec),
            DEC_TO_BCD(t->tm_min),
            DEC_TO_BCD(t->tm_hour),
            DEC_TO_BCD(t->tm_mday),
            DEC_TO_BCD(t->tm_mon + 1),
            DEC_TO_BCD(t->tm_year - 100),
            DEC_TO_BCD(t->tm_wday),
        };
        writeArray(b, 8);
    }
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
