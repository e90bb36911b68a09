// quillo-rtc: the clock chip on an I2C bus for technicians, with the conventions of hwclock and
// i2c-tools: every transfer checked, reads that never change the chip, ISO 8601 times, and a
// drift measurement finer than the chip's one-second resolution.
//
// Exit status: 0 done, 1 failed (one line on standard error saying what to do), 2 usage error.
#include "foundation/Bcd.h"
#include "foundation/Time.h"
#include "net/SocketAddress.h"
#include "net/SocketException.h"
#include "sntp/SntpClient.h"
#include "tool/RtcChip.h"
#include "tool/RtcDrift.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <getopt.h>
#include <linux/i2c-dev.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

using namespace Kovan;

namespace {

const char* const VERSION = "quillo-rtc 1.0.0";
const char* const DEFAULT_BUS = "/dev/i2c-0";

const char* const USAGE
    = "Usage: quillo-rtc [--bus DEVICE] [--chip isl1208|s35391a|auto] [--force] COMMAND\n"
      "\n"
      "Commands:\n"
      "  detect                    list the supported chips that answer on the bus\n"
      "  read [--utc] [--json]     print the chip's time, ISO 8601 with the zone's offset\n"
      "  set [--utc] TIME|now      write TIME (ISO 8601) or the system time, at the start of a\n"
      "                            second; the weekday is computed\n"
      "  status [--clear] [--json] decode the chip's flags; --clear clears them\n"
      "  reg get ADDR              print one register\n"
      "  reg set ADDR VALUE [-y] [--dry-run]\n"
      "                            write one register, after asking unless -y\n"
      "  drift --server HOST [--interval S] [--count N | --duration D] [--json] [--plot F.svg]\n"
      "                            measure the chip against an SNTP server until done or Ctrl-C\n"
      "\n"
      "Options:\n"
      "  --bus DEVICE    the I2C bus device (default /dev/i2c-0)\n"
      "  --chip NAME     isl1208 (0x6f), s35391a (0x58-0x5f), or auto: the one that answers\n"
      "  --force         use the address even while a kernel driver holds it\n"
      "  --utc           the chip keeps UTC (default: local time, as TZ gives it)\n"
      "  -h, --help      this text\n"
      "  -V, --version   the version\n";

// A failure for the technician: one line on standard error, exit status 1.
struct Failure {
    std::string message;
};
// A command line that makes no sense: the line, the usage text, exit status 2.
struct UsageError {
    std::string message;
};

__attribute__((format(printf, 1, 0))) std::string format(const char* fmt, va_list args)
{
    char text[512];
    (void)vsnprintf(text, sizeof text, fmt, args);
    return text;
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string message = format(fmt, args);
    va_end(args);
    throw Failure { message };
}

[[noreturn]] __attribute__((format(printf, 1, 2))) void usageError(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string message = format(fmt, args);
    va_end(args);
    throw UsageError { message };
}

__attribute__((format(printf, 1, 2))) void warn(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    (void)fprintf(stderr, "quillo-rtc: %s\n", format(fmt, args).c_str());
    va_end(args);
}

struct Options {
    std::string bus = DEFAULT_BUS;
    std::string chip = "auto";
    bool force = false;
    bool utc = false;
    bool json = false;
    bool yes = false;
    bool dryRun = false;
    bool clear = false;
    std::string server;
    double interval = 10;
    long count = 0;
    double duration = 0;
    std::string plot;
    std::vector<std::string> words;
    std::string given; // the command-specific options given, as " --name" words
};

// --- Time ------------------------------------------------------------------------------------

volatile sig_atomic_t _stop = 0;

void onSignal(int) { _stop = 1; }

double realNow()
{
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double monotonicNow()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Sleeps up to `seconds`; a signal ends it early (callers look at _stop and the clock).
void pause(double seconds)
{
    if (seconds <= 0)
        return;
    timespec t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    nanosleep(&t, nullptr);
}

template <typename Clock> void sleepUntil(Clock now, double when)
{
    double left = when - now();
    while (!_stop && left > 0) {
        pause(left);
        left = when - now();
    }
}

// "2031-07-09T21:08:57+09:00" for `t` as local time, or with "+00:00" as UTC.
std::string isoTime(time_t t, bool utc)
{
    tm fields = {};
    if (utc)
        gmtime_r(&t, &fields);
    else
        localtime_r(&t, &fields);
    const long offset = utc ? 0 : fields.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    (void)snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
        fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
        fields.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

// UTC with milliseconds: "2031-07-09T12:08:57.250Z".
std::string isoUtcMs(double t)
{
    const double whole = std::floor(t);
    long ms = std::lround((t - whole) * 1000.0);
    time_t seconds = static_cast<time_t>(whole);
    if (1000 == ms) {
        ms = 0;
        ++seconds;
    }
    tm fields = {};
    gmtime_r(&seconds, &fields);
    char text[64];
    (void)snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", fields.tm_year + 1900,
        fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec, ms);
    return text;
}

bool digits(const char*& p, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; ++i, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        *value = *value * 10 + (*p - '0');
    }
    return true;
}

// "YYYY-MM-DD[T ]hh:mm:ss[.fff][Z|+hh:mm|-hh:mm|+hhmm|+hh]" to an instant. Without an offset the
// text is local time, which must exist (not in a daylight-saving gap).
bool parseIso(const char* text, time_t* instant)
{
    const char* p = text;
    int year, month, day, hour, minute, second;
    if (!digits(p, 4, &year) || '-' != *p++ || !digits(p, 2, &month) || '-' != *p++
        || !digits(p, 2, &day))
        return false;
    if ('T' != *p && 't' != *p && ' ' != *p)
        return false;
    ++p;
    if (!digits(p, 2, &hour) || ':' != *p++ || !digits(p, 2, &minute) || ':' != *p++
        || !digits(p, 2, &second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > Time::daysInMonth(year, month) || hour > 23
        || minute > 59 || second > 59)
        return false;
    if ('.' == *p || ',' == *p) { // a fraction: the write lands on a whole second anyway
        ++p;
        if (*p < '0' || *p > '9')
            return false;
        while (*p >= '0' && *p <= '9')
            ++p;
    }
    tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    if (!*p) {
        fields.tm_isdst = -1;
        const tm wanted = fields;
        *instant = mktime(&fields);
        return -1 != *instant && fields.tm_hour == wanted.tm_hour && fields.tm_min == wanted.tm_min
            && fields.tm_mday == wanted.tm_mday;
    }
    long offset = 0;
    if ('Z' == *p || 'z' == *p) {
        ++p;
    } else if ('+' == *p || '-' == *p) {
        const int sign = '-' == *p++ ? -1 : 1;
        int hh = 0, mm = 0;
        if (!digits(p, 2, &hh))
            return false;
        if (':' == *p)
            ++p;
        if (*p && !digits(p, 2, &mm))
            return false;
        if (hh > 23 || mm > 59)
            return false;
        offset = sign * (hh * 3600L + mm * 60L);
    } else {
        return false;
    }
    if (*p)
        return false;
    *instant = timegm(&fields) - offset;
    return true;
}

// "0x1f" hexadecimal or "31" decimal (leading zeros are decimal, never octal), within 0..max.
bool parseNumber(const char* text, long max, long* value)
{
    const bool hex = '0' == text[0] && ('x' == text[1] || 'X' == text[1]);
    const char* p = hex ? text + 2 : text;
    if (!*p)
        return false;
    long v = 0;
    for (; *p; ++p) {
        int d = -1;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (hex && *p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (hex && *p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        if (d < 0)
            return false;
        v = v * (hex ? 16 : 10) + d;
        if (v > max)
            return false;
    }
    *value = v;
    return true;
}

// --- The bus and the chip ----------------------------------------------------------------------

const char* chipName(int chip) { return S35391A_ADDRESS == chip ? "s35391a" : "isl1208"; }
const char* chipAddresses(int chip) { return S35391A_ADDRESS == chip ? "0x58-0x5f" : "0x6f"; }

// The opened bus and the chosen chip. Every transfer is checked; a failure ends the command.
class ChipBus {
public:
    explicit ChipBus(const Options& options)
        : _options(options)
    {
        _fd = open(options.bus.c_str(), O_RDWR | O_CLOEXEC);
        if (-1 == _fd) {
            const int error = errno;
            char text[256];
            if (EACCES == error || EPERM == error)
                fail("cannot open %s: %s; run as root or as a member of its group",
                    options.bus.c_str(), strerror_r(error, text, sizeof text));
            fail("cannot open %s: %s; load i2c-dev (modprobe i2c-dev) or name the bus with --bus",
                options.bus.c_str(), strerror_r(error, text, sizeof text));
        }
    }
    ~ChipBus() { close(_fd); }
    ChipBus(const ChipBus&) = delete;
    ChipBus& operator=(const ChipBus&) = delete;

    // 0 when the address answers a one-byte read, else the errno (EBUSY: a driver holds it).
    int probe(int chip)
    {
        const int address = S35391A_ADDRESS == chip ? S35391A_STATUS_ADDRESS : ISL1208_ADDRESS;
        if (!trySelect(address))
            return errno;
        unsigned char byte = 0;
        return 1 == read(_fd, &byte, 1) ? 0 : (errno ? errno : EIO);
    }

    // Chooses the chip from --chip, or the one that answers.
    void choose()
    {
        if ("isl1208" == _options.chip || "s35391a" == _options.chip) {
            _chip = "isl1208" == _options.chip ? ISL1208_ADDRESS : S35391A_ADDRESS;
            const int error = probe(_chip);
            if (EBUSY == error)
                busy(_chip);
            if (error)
                notAnswering();
            return;
        }
        int found = 0, busyChip = 0;
        for (int chip : { ISL1208_ADDRESS, S35391A_ADDRESS }) {
            const int error = probe(chip);
            if (0 == error && found)
                fail("both an isl1208 (0x6f) and an s35391a (0x58-0x5f) answer on %s; choose one "
                     "with --chip",
                    _options.bus.c_str());
            if (0 == error)
                found = chip;
            else if (EBUSY == error)
                busyChip = chip;
        }
        if (!found && busyChip)
            busy(busyChip);
        if (!found)
            fail("no supported chip answers on %s; check the wiring, the bus (--bus) and the "
                 "chip's supply",
                _options.bus.c_str());
        _chip = found;
    }

    int chip() const { return _chip; }
    bool isS35391A() const { return S35391A_ADDRESS == _chip; }

    void readFrom(int address, unsigned char* buffer, size_t length)
    {
        select(address);
        if (static_cast<ssize_t>(length) != read(_fd, buffer, length))
            transferFailed("read from", address);
    }

    void writeTo(int address, const unsigned char* data, size_t length)
    {
        select(address);
        if (static_cast<ssize_t>(length) != write(_fd, data, length))
            transferFailed("write to", address);
    }

    // ISL1208 registers from `first` on: the register pointer, then the read. The pointer write
    // changes no register.
    void readRegisters(int first, unsigned char* buffer, size_t length)
    {
        const unsigned char pointer = static_cast<unsigned char>(first);
        writeTo(ISL1208_ADDRESS, &pointer, 1);
        readFrom(ISL1208_ADDRESS, buffer, length);
    }

    // S35391A status register 1 in the chip's bit order; ISL1208 status register 0x07.
    unsigned char status()
    {
        unsigned char byte = 0;
        if (isS35391A()) {
            readFrom(S35391A_STATUS_ADDRESS, &byte, 1);
            flipByteOrder(&byte);
        } else {
            readRegisters(ISL1208_STATUS_REGISTER, &byte, 1);
        }
        return byte;
    }

    // The calendar fields in BCD with the hour as 0-23 (the S35391A's 12-hour mode converted).
    void readCalendar(unsigned char* fields)
    {
        unsigned char bus[CALENDAR_SIZE] = {};
        if (isS35391A())
            readFrom(S35391A_ADDRESS, bus, CALENDAR_SIZE);
        else
            readRegisters(0x00, bus, CALENDAR_SIZE);
        calendarFromBus(_chip, bus, fields);
        const unsigned char hour = fields[HOUR];
        fields[HOUR] &= HOUR_MASK;
        if (isS35391A() && !(s35391aStatus() & S35391A_24_HOUR) && isBcd(fields[HOUR])
            && fromBcd(fields[HOUR]) < 12 && (hour & HOUR_PM))
            fields[HOUR] = toBcd(fromBcd(fields[HOUR]) + 12);
    }

    // The bytes that write `fields` (hour 0-23), as they cross the bus, at calendarAddress().
    std::vector<unsigned char> calendarBytes(const unsigned char* fields)
    {
        unsigned char f[CALENDAR_SIZE];
        memcpy(f, fields, CALENDAR_SIZE);
        if (isS35391A()) {
            const int hour = fromBcd(f[HOUR]);
            const bool mode24 = s35391aStatus() & S35391A_24_HOUR;
            f[HOUR] = static_cast<unsigned char>(
                toBcd(mode24 ? hour : hour % 12) | (hour > 11 ? HOUR_PM : 0));
        }
        std::vector<unsigned char> bytes(isS35391A() ? CALENDAR_SIZE : CALENDAR_SIZE + 1, 0);
        calendarToBus(_chip, f, bytes.data() + (isS35391A() ? 0 : 1));
        return bytes;
    }
    int calendarAddress() const { return isS35391A() ? S35391A_ADDRESS : ISL1208_ADDRESS; }

    // Status register 1, read once: the hour's 12/24 mode depends on it.
    unsigned char s35391aStatus()
    {
        if (_s35391aStatus < 0)
            _s35391aStatus = status();
        return static_cast<unsigned char>(_s35391aStatus);
    }
    void forgetStatus() { _s35391aStatus = -1; }

private:
    bool trySelect(int address)
    {
        if (address == _selected)
            return true;
        if (-1 == ioctl(_fd, _options.force ? I2C_SLAVE_FORCE : I2C_SLAVE, address))
            return false;
        _selected = address;
        return true;
    }

    void select(int address)
    {
        if (trySelect(address))
            return;
        if (EBUSY == errno)
            busy(_chip);
        char text[256];
        fail("cannot address 0x%02x on %s: %s; check the bus (--bus)", address,
            _options.bus.c_str(), strerror_r(errno, text, sizeof text));
    }

    [[noreturn]] void busy(int chip)
    {
        fail("a kernel driver holds the %s at %s on %s; read it with hwclock, unbind the driver, "
             "or add --force",
            chipName(chip), chipAddresses(chip), _options.bus.c_str());
    }

    [[noreturn]] void notAnswering()
    {
        fail("no %s answers at %s on %s; check the wiring, the bus (--bus) and --chip",
            chipName(_chip), chipAddresses(_chip), _options.bus.c_str());
    }

    [[noreturn]] void transferFailed(const char* what, int address)
    {
        if (ENXIO == errno || EREMOTEIO == errno || EIO == errno || 0 == errno)
            notAnswering();
        char text[256];
        fail("%s 0x%02x on %s failed: %s; check the wiring and the bus (--bus)", what, address,
            _options.bus.c_str(), strerror_r(errno, text, sizeof text));
    }

    const Options& _options;
    int _fd = -1;
    int _selected = -1;
    int _chip = 0;
    int _s35391aStatus = -1;
};

bool validCalendar(const unsigned char* f)
{
    for (int i = 0; i < CALENDAR_SIZE; ++i) {
        if (WDAY != i && !isBcd(f[i]))
            return false;
    }
    const int month = fromBcd(f[MONTH]);
    return month >= 1 && month <= 12 && fromBcd(f[MDAY]) >= 1
        && fromBcd(f[MDAY]) <= Time::daysInMonth(2000 + fromBcd(f[YEAR]), month)
        && fromBcd(f[HOUR]) < 24 && fromBcd(f[MINUTE]) < 60 && fromBcd(f[SECOND]) < 60;
}

// The instant the fields name, read as UTC or as local time; fails on a calendar that names none.
time_t calendarInstant(const unsigned char* f, bool utc)
{
    if (!validCalendar(f))
        fail("the chip holds no valid time (%02x-%02x-%02x %02x:%02x:%02x); set it with "
             "'quillo-rtc set'",
            f[YEAR], f[MONTH], f[MDAY], f[HOUR], f[MINUTE], f[SECOND]);
    tm t = {};
    fieldsToTm(f, &t);
    if (utc)
        return timegm(&t);
    // The zone decides whether daylight saving applies: no phantom hour.
    t.tm_isdst = -1;
    return mktime(&t);
}

void fieldsFor(time_t instant, bool utc, unsigned char* fields)
{
    tm t = {};
    if (utc)
        gmtime_r(&instant, &t);
    else
        localtime_r(&instant, &t);
    if (t.tm_year < 100 || t.tm_year > 199)
        fail("%s is outside the chip's years 2000-2099", isoTime(instant, utc).c_str());
    tmToFields(&t, fields);
}

bool powerLost(ChipBus& bus, unsigned char status)
{
    return bus.isS35391A() ? (status & (S35391A_POWER_ON | S35391A_BATTERY_LOW)) != 0
                           : (status & ISL1208_POWER_FAILED) != 0;
}

// The flags --clear clears.
bool flagsSet(ChipBus& bus, unsigned char status)
{
    return bus.isS35391A()
        ? powerLost(bus, status)
        : (status & (ISL1208_POWER_FAILED | ISL1208_ON_BATTERY | ISL1208_ALARM)) != 0;
}

// --- Commands ----------------------------------------------------------------------------------

int detect(const Options& options)
{
    ChipBus bus(options);
    int found = 0;
    for (int chip : { ISL1208_ADDRESS, S35391A_ADDRESS }) {
        const int error = bus.probe(chip);
        if (0 == error) {
            printf("%s at %s on %s\n", chipName(chip), chipAddresses(chip), options.bus.c_str());
            ++found;
        } else if (EBUSY == error) {
            warn("%s's address %s is held by a kernel driver (add --force to probe it)",
                chipName(chip), chipAddresses(chip));
        }
    }
    if (!found)
        fail("no supported chip answers on %s; check the wiring, the bus (--bus) and the chip's "
             "supply",
            options.bus.c_str());
    return 0;
}

int readTime(const Options& options)
{
    ChipBus bus(options);
    bus.choose();
    unsigned char fields[CALENDAR_SIZE];
    bus.readCalendar(fields);
    const time_t instant = calendarInstant(fields, options.utc);
    const bool lost = powerLost(bus, bus.isS35391A() ? bus.s35391aStatus() : bus.status());
    const std::string text = isoTime(instant, options.utc);
    if (options.json)
        printf("{\"chip\":\"%s\",\"time\":\"%s\",\"epoch\":%lld,\"zone\":\"%s\",\"power_lost\":%s}"
               "\n",
            chipName(bus.chip()), text.c_str(), static_cast<long long>(instant),
            options.utc ? "utc" : "local", lost ? "true" : "false");
    else
        printf("%s\n", text.c_str());
    if (lost)
        warn("the chip reports a power loss, so this time may be wrong; see 'quillo-rtc status'");
    return 0;
}

int setTime(const Options& options)
{
    if (options.words.size() != 2)
        usageError("set takes one TIME (ISO 8601, e.g. 2031-07-09T21:08:57+09:00) or 'now'");
    const std::string& text = options.words[1];
    const double invoked = realNow();
    time_t base = static_cast<time_t>(std::floor(invoked));
    if ("now" != text && !parseIso(text.c_str(), &base))
        usageError(
            "\"%s\" is not a valid time; give ISO 8601, e.g. 2031-07-09T21:08:57+09:00, or 'now'",
            text.c_str());

    ChipBus bus(options);
    bus.choose();
    if (!bus.isS35391A()) {
        // Calendar writes need the write-enable bit; the flags are written as they are (1 keeps
        // them).
        const unsigned char status = bus.status();
        if (!(status & ISL1208_WRITE_ENABLE)) {
            const unsigned char enable[2] = { ISL1208_STATUS_REGISTER,
                static_cast<unsigned char>(status | ISL1208_WRITE_ENABLE) };
            bus.writeTo(ISL1208_ADDRESS, enable, 2);
        }
    } else {
        bus.s35391aStatus();
    }
    // As hwclock does: the write lands on the start of a system second, which also restarts the
    // chip's divider, so the chip counts in step. TIME stands for the second of the invocation.
    const double edge = std::floor(invoked) + 1.0;
    const time_t value = base + 1;
    unsigned char fields[CALENDAR_SIZE];
    fieldsFor(value, options.utc, fields);
    const std::vector<unsigned char> bytes = bus.calendarBytes(fields);
    sleepUntil(realNow, edge);
    if (_stop)
        fail("interrupted; nothing written");
    bus.writeTo(bus.calendarAddress(), bytes.data(), bytes.size());

    unsigned char back[CALENDAR_SIZE];
    bus.readCalendar(back);
    if (!validCalendar(back) || std::llabs(calendarInstant(back, options.utc) - value) > 1)
        fail("the chip did not keep the time written; check 'quillo-rtc status' and the wiring");
    printf("%s\n", isoTime(value, options.utc).c_str());
    return 0;
}

struct Flag {
    const char* name;
    const char* key;
    bool set;
};

int status(const Options& options)
{
    ChipBus bus(options);
    bus.choose();
    unsigned char s = bus.status();
    if (options.clear && flagsSet(bus, s)) {
        if (bus.isS35391A()) {
            // Only a reset clears the S35391A's power flags, and it zeroes the calendar: keep
            // the time across it (less its fraction of a second).
            unsigned char fields[CALENDAR_SIZE];
            bus.readCalendar(fields);
            unsigned char reset = S35391A_RESET, mode = S35391A_24_HOUR;
            flipByteOrder(&reset);
            flipByteOrder(&mode);
            bus.writeTo(S35391A_STATUS_ADDRESS, &reset, 1);
            bus.writeTo(S35391A_STATUS_ADDRESS, &mode, 1);
            bus.forgetStatus();
            if (validCalendar(fields)) {
                const std::vector<unsigned char> bytes = bus.calendarBytes(fields);
                bus.writeTo(S35391A_ADDRESS, bytes.data(), bytes.size());
            }
        } else {
            // Writing 0 to a flag clears it; the control bits keep their values.
            const unsigned char clear[2] = { ISL1208_STATUS_REGISTER,
                static_cast<unsigned char>(
                    s & ~(ISL1208_POWER_FAILED | ISL1208_ON_BATTERY | ISL1208_ALARM)) };
            bus.writeTo(ISL1208_ADDRESS, clear, 2);
        }
        bus.forgetStatus();
        s = bus.status();
    }
    std::vector<Flag> flags;
    if (bus.isS35391A()) {
        flags = { { "power failure", "power_failure", (s & S35391A_POWER_ON) != 0 },
            { "battery low", "battery_low", (s & S35391A_BATTERY_LOW) != 0 },
            { "alarm 1", "alarm1", (s & S35391A_ALARM1) != 0 },
            { "alarm 2", "alarm2", (s & S35391A_ALARM2) != 0 },
            { "24-hour", "hour24", (s & S35391A_24_HOUR) != 0 } };
    } else {
        unsigned char hour = 0;
        bus.readRegisters(0x02, &hour, 1);
        flags = { { "power failure", "power_failure", (s & ISL1208_POWER_FAILED) != 0 },
            { "on battery", "on_battery", (s & ISL1208_ON_BATTERY) != 0 },
            { "alarm", "alarm", (s & ISL1208_ALARM) != 0 },
            { "write enable", "write_enable", (s & ISL1208_WRITE_ENABLE) != 0 },
            { "24-hour", "hour24", (hour & ISL1208_HOUR_24) != 0 } };
    }
    if (options.json) {
        printf("{\"chip\":\"%s\",\"status\":\"0x%02x\"", chipName(bus.chip()), s);
        for (const Flag& f : flags)
            printf(",\"%s\":%s", f.key, f.set ? "true" : "false");
        printf("}\n");
    } else {
        printf("%s at %s on %s: status 0x%02x\n", chipName(bus.chip()), chipAddresses(bus.chip()),
            options.bus.c_str(), s);
        for (const Flag& f : flags)
            printf("  %-14s %s\n", f.name, f.set ? "yes" : "no");
    }
    return 0;
}

// The S35391A's registers by number (command address 0x58 + number) and their lengths.
constexpr int S35391A_REGISTER_SIZE[8] = { 1, 1, 7, 3, 3, 3, 1, 1 };

int reg(const Options& options)
{
    const bool setting = options.words.size() >= 2 && "set" == options.words[1];
    if (options.words.size() < 2 || (!setting && "get" != options.words[1])
        || options.words.size() != (setting ? 4u : 3u))
        usageError("give 'reg get ADDR' or 'reg set ADDR VALUE'");
    if (!setting && (options.yes || options.dryRun))
        usageError("-y and --dry-run go with 'reg set'");

    ChipBus bus(options);
    bus.choose();
    const long last = bus.isS35391A() ? 7 : ISL1208_REGISTER_COUNT - 1;
    long address = 0, value = 0;
    if (!parseNumber(options.words[2].c_str(), last, &address))
        usageError("ADDR \"%s\" is not a register of the %s (0x00 to 0x%02lx)",
            options.words[2].c_str(), chipName(bus.chip()), last);
    if (setting && !parseNumber(options.words[3].c_str(), 0xFF, &value))
        usageError("VALUE \"%s\" is not a byte (0x00 to 0xff)", options.words[3].c_str());

    const int size = bus.isS35391A() ? S35391A_REGISTER_SIZE[address] : 1;
    const int busAddress
        = bus.isS35391A() ? S35391A_STATUS_ADDRESS + static_cast<int>(address) : ISL1208_ADDRESS;
    if (setting) {
        if (size > 1)
            fail("register %ld of the s35391a holds %d bytes; use 'set' for the time", address,
                size);
        std::vector<unsigned char> bytes;
        if (bus.isS35391A()) {
            unsigned char b = static_cast<unsigned char>(value);
            flipByteOrder(&b); // the chip takes each byte least significant bit first
            bytes = { b };
        } else {
            bytes = { static_cast<unsigned char>(address), static_cast<unsigned char>(value) };
        }
        if (options.dryRun) {
            printf("would write to 0x%02x:", busAddress);
            for (unsigned char b : bytes)
                printf(" %02x", b);
            printf("\n");
            return 0;
        }
        if (!options.yes) {
            (void)fprintf(stderr, "Write 0x%02lx to register 0x%02lx of the %s on %s? [y/N] ",
                value, address, chipName(bus.chip()), options.bus.c_str());
            char answer[16] = {};
            if (!fgets(answer, sizeof answer, stdin) || ('y' != answer[0] && 'Y' != answer[0]))
                fail("not confirmed; nothing written (-y skips the question)");
        }
        bus.writeTo(busAddress, bytes.data(), bytes.size());
    }
    unsigned char back[7] = {};
    if (bus.isS35391A()) {
        bus.readFrom(busAddress, back, static_cast<size_t>(size));
        for (int i = 0; i < size; ++i)
            flipByteOrder(&back[i]);
    } else {
        bus.readRegisters(static_cast<int>(address), back, 1);
    }
    for (int i = 0; i < size; ++i)
        printf(i ? " 0x%02x" : "0x%02x", back[i]);
    printf("\n");
    if (setting && back[0] != value)
        warn("register 0x%02lx reads back 0x%02x, not 0x%02lx (flag or protected bits)", address,
            back[0], value);
    return 0;
}

// --- Drift ---------------------------------------------------------------------------------------

// One read of the calendar, stamped with the system time before and after it.
struct Reading {
    double start, end;
    unsigned char fields[CALENDAR_SIZE];
};

Reading readStamped(ChipBus& bus)
{
    Reading r;
    r.start = realNow();
    bus.readCalendar(r.fields);
    r.end = realNow();
    return r;
}

// A change of the chip's second: the system time it happened at (to within `halfWidth`) and the
// calendar it changed to, which the chip holds from exactly then.
struct Edge {
    double system = 0;
    double halfWidth = 0;
    unsigned char fields[CALENDAR_SIZE] = {};
};

// Reads until the calendar changes (pausing `gap` seconds between reads) or a read starts after
// `until`. The change lies between the start of the last read that showed the old second and the
// end of the first that showed the new one.
bool pollEdge(ChipBus& bus, double until, double gap, Edge* edge)
{
    Reading before = readStamped(bus);
    for (long reads = 0; !_stop && reads < 200000; ++reads) {
        pause(gap);
        const Reading now = readStamped(bus);
        if (0 != memcmp(now.fields, before.fields, CALENDAR_SIZE)) {
            edge->system = (before.start + now.end) / 2;
            edge->halfWidth = (now.end - before.start) / 2;
            memcpy(edge->fields, now.fields, CALENDAR_SIZE);
            return true;
        }
        if (now.start > until)
            return false;
        before = now;
    }
    return false;
}

// Finds the next edge: by reading every 0.2 ms around the predicted instant (`predicted` 0:
// none), else by a coarse search every 10 ms. A busy machine can stretch a read over
// milliseconds: then the next edges are seen too, and all of them are combined (combineEdges)
// into the last one, until it is known to a millisecond or eight have been seen. The windows
// shrink as the edges are known better.
// `second` is the chip's second in system seconds when its rate is known, else 0.
Edge findEdge(ChipBus& bus, double predicted, double window, double second, bool utc)
{
    constexpr double SHARP = 0.001;
    Edge best, previous;
    best.halfWidth = 1e9; // and system 0: none found
    std::vector<EdgeBracket> brackets;
    for (int attempt = 0; attempt < 8 && !_stop && best.halfWidth > SHARP; ++attempt) {
        Edge edge;
        bool found = false;
        if (predicted > 0) {
            sleepUntil(realNow, predicted - window);
            // Reads 0.2 ms apart rather than back to back: a process that spins is preempted on
            // a loaded machine, often in the very read that sees the edge, while one that wakes
            // for each read runs at once.
            found = pollEdge(bus, predicted + window, 0.0002, &edge) && edge.halfWidth < window;
        }
        if (!found && !pollEdge(bus, realNow() + 2.5, 0.01, &edge)) {
            if (_stop)
                break;
            fail("the chip's seconds did not change for 2.5 s; its oscillator may be stopped "
                 "(see 'quillo-rtc status')");
        }
        brackets.push_back({ edge.system - edge.halfWidth, edge.system + edge.halfWidth,
            static_cast<long long>(calendarInstant(edge.fields, utc)) });
        Edge combined = edge;
        const double shortest = second > 0 ? second * 0.998 : 0.5;
        const double longest = second > 0 ? second * 1.002 : 2.0;
        if (!combineEdges(brackets, shortest, longest, &combined.system, &combined.halfWidth)
            || combined.halfWidth > edge.halfWidth)
            combined = edge;
        if (combined.halfWidth < best.halfWidth)
            best = combined;
        // Two edges in a row measure the chip's second; the first alone leaves it to the rate.
        const bool consecutive = previous.system > 0 && edge.system - previous.system < 1.5;
        const double length
            = consecutive ? edge.system - previous.system : (second > 0 ? second : 1.0);
        const double spread
            = consecutive ? edge.halfWidth + previous.halfWidth : (second > 0 ? 0.002 : 0.02);
        predicted = combined.system + length;
        window = std::min(std::max(combined.halfWidth + spread + 0.0005, 0.0015), 0.03);
        previous = edge;
    }
    return best;
}

// The server's offset from this machine's clock and the round trip, in seconds, from the
// client in its strict mode (drift() sets it).
bool queryServer(SntpClient& client, double* offset, double* delay)
{
    // The client traces its failures on standard error; this program says what to do instead.
    (void)fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (-1 != null) {
        dup2(null, 2);
        close(null);
    }
    // Of a few exchanges the quickest: half its round trip bounds its offset's error.
    bool ok = false;
    SntpQueryReport report;
    // After Ctrl-C one exchange still completes the sample under way.
    for (int attempt = 0; attempt < (_stop ? 1 : 3) && !(ok && *delay <= 0.002); ++attempt) {
        try {
            SntpServerResponse response;
            if (client.getServerTime(&response, &report) && (!ok || response.delay < *delay)) {
                *offset = response.offset;
                *delay = response.delay;
                ok = true;
            }
        } catch (const SocketException&) {
        }
        if (SntpQueryReport::KISS_OF_DEATH == report.outcome)
            break;
    }
    if (-1 != saved) {
        dup2(saved, 2);
        close(saved);
    }
    if (SntpQueryReport::KISS_OF_DEATH == report.outcome)
        fail("the time server refuses to answer (kiss-o'-death %s); ask another server, or less "
             "often (--interval)",
            report.kissCode);
    return ok;
}

int drift(const Options& options)
{
    if (options.server.empty())
        usageError("drift needs --server HOST");
    if (options.words.size() != 1)
        usageError("drift takes no words after it");
    // Names are looked up here, with the system's resolver; the client gets the address.
    const SocketAddress server(options.server.c_str(), 123);
    if (server.isUnresolved())
        fail("cannot find the time server \"%s\"; check the name or give its address",
            options.server.c_str());
    // Strict: only the server's own replies, checked, with full-resolution time stamps.
    SntpClient client;
    client.setStrict(true);
    client.setServerAddress(server.hostAddress());

    ChipBus bus(options);
    bus.choose();

    std::vector<DriftSample> samples;
    double firstServerTime = 0, rate = 1.0;
    Edge last;
    bool haveLast = false;
    const double start = monotonicNow();
    for (long k = 0; !_stop; ++k) {
        if (options.count && k >= options.count)
            break;
        // The samples planned over the duration (a busy machine can make one take longer).
        if (options.duration > 0
            && static_cast<double>(k) * options.interval > options.duration + 1e-9)
            break;
        sleepUntil(monotonicNow, start + static_cast<double>(k) * options.interval);
        if (_stop)
            break;
        // The next edge from the last one at the chip's measured rate; the window widens with
        // the time the rate has to be trusted over.
        double predicted = 0, window = 0.03;
        if (haveLast) {
            const double now = realNow() + 0.005;
            const double edges = std::ceil((now - last.system) * rate + 0.05);
            predicted = last.system + edges / rate;
            window = std::min(0.03 + 0.002 * edges, 0.3);
        }
        const Edge edge
            = findEdge(bus, predicted, window, samples.size() >= 2 ? 1.0 / rate : 0, options.utc);
        // Ctrl-C during the search keeps the best edge it had found.
        if (0 == edge.system)
            break;
        double offset = 0, delay = 0;
        if (!queryServer(client, &offset, &delay)) {
            if (samples.empty())
                fail("no answer from the time server %s; check that it serves NTP on UDP port 123 "
                     "and that the network lets it through",
                    options.server.c_str());
            warn("sample %ld: no answer from %s; skipped", k + 1, options.server.c_str());
            continue;
        }
        const double serverTime = edge.system + offset;
        const double chipTime = static_cast<double>(calendarInstant(edge.fields, options.utc));
        if (samples.empty())
            firstServerTime = serverTime;
        // The edge lies within its half-width; the server's time within half the round trip.
        const DriftSample sample = { serverTime - firstServerTime, (chipTime - serverTime) * 1e3,
            std::hypot(edge.halfWidth, delay / 2) * 1e3 };
        samples.push_back(sample);
        last = edge;
        haveLast = true;
        const DriftFit fit = fitDrift(samples);
        if (fit.hasRate)
            rate = std::min(std::max(1.0 + fit.ratePpm * 1e-6, 0.5), 2.0);
        if (options.json)
            printf("{\"time\":\"%s\",\"elapsed_s\":%.3f,\"offset_ms\":%.3f,\"delay_ms\":%.3f,"
                   "\"edge_ms\":%.3f}\n",
                isoUtcMs(serverTime).c_str(), sample.elapsed, sample.offsetMs, delay * 1e3,
                edge.halfWidth * 1e3);
        else
            printf("%s  offset %+10.3f ms  (delay %.3f ms, edge +/- %.3f ms)\n",
                isoUtcMs(serverTime).c_str(), sample.offsetMs, delay * 1e3, edge.halfWidth * 1e3);
        (void)fflush(stdout);
    }

    if (samples.empty())
        fail("no sample taken; nothing to report");
    const DriftFit fit = fitDrift(samples);
    if (options.json) {
        printf("{\"summary\":{\"offset_ms\":%.3f,", fit.offsetMs);
        if (fit.hasRate)
            printf("\"rate_ppm\":%.3f,", fit.ratePpm);
        else
            printf("\"rate_ppm\":null,");
        if (fit.hasUncertainty)
            printf("\"rate_uncertainty_ppm\":%.3f,", fit.rateUncertaintyPpm);
        else
            printf("\"rate_uncertainty_ppm\":null,");
        printf("\"samples\":%d,\"duration_s\":%.3f}}\n", fit.samples, fit.duration);
    } else {
        printf("summary: offset %+.3f ms, rate ", fit.offsetMs);
        if (!fit.hasRate)
            printf("unknown");
        else if (fit.hasUncertainty)
            printf("%+.1f +/- %.1f ppm", fit.ratePpm, fit.rateUncertaintyPpm);
        else
            printf("%+.1f ppm", fit.ratePpm);
        printf(", %d samples over %.1f s\n", fit.samples, fit.duration);
    }
    char text[256];
    if (!options.plot.empty() && !plotDrift(options.plot.c_str(), samples, fit))
        fail("cannot write the plot %s: %s", options.plot.c_str(),
            strerror_r(errno, text, sizeof text));
    return 0;
}

// --- Command line ------------------------------------------------------------------------------

// Seconds, with an optional unit: "90", "1.5m", "2h".
bool parseSeconds(const char* text, double* seconds)
{
    char* end = nullptr;
    errno = 0;
    double value = strtod(text, &end);
    if (end == text || ERANGE == errno || !std::isfinite(value) || value < 0)
        return false;
    if ('m' == *end)
        value *= 60, ++end;
    else if ('h' == *end)
        value *= 3600, ++end;
    else if ('s' == *end)
        ++end;
    if (*end || value > 1e8)
        return false;
    *seconds = value;
    return true;
}

Options parse(int argc, char** argv)
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
        PLOT
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
        { "yes", no_argument, nullptr, 'y' },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'V' },
        { nullptr, 0, nullptr, 0 },
    };
    Options o;
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
            o.given += " --utc";
            break;
        case JSON:
            o.json = true;
            o.given += " --json";
            break;
        case CLEAR:
            o.clear = true;
            o.given += " --clear";
            break;
        case DRY_RUN:
            o.dryRun = true;
            o.given += " --dry-run";
            break;
        case 'y':
            o.yes = true;
            o.given += " -y";
            break;
        case SERVER:
            o.server = optarg;
            o.given += " --server";
            break;
        case INTERVAL:
            if (!parseSeconds(optarg, &o.interval) || o.interval < 1)
                usageError("--interval is at least 1 second, not \"%s\"", optarg);
            o.given += " --interval";
            break;
        case COUNT:
            if (!parseNumber(optarg, 100000000, &number) || 0 == number)
                usageError("--count is a whole number of samples, not \"%s\"", optarg);
            o.count = number;
            o.given += " --count";
            break;
        case DURATION:
            if (!parseSeconds(optarg, &o.duration))
                usageError("--duration is seconds (or 5m, 2h), not \"%s\"", optarg);
            o.given += " --duration";
            break;
        case PLOT:
            o.plot = optarg;
            o.given += " --plot";
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
    if (o.count && o.duration > 0)
        usageError("give --count or --duration, not both");
    // Each command-specific option belongs to some commands only.
    static const struct {
        const char* command;
        const char* options;
    } allowed[] = {
        { "detect", "" },
        { "read", " --utc --json" },
        { "set", " --utc" },
        { "status", " --clear --json" },
        { "reg", " -y --dry-run" },
        { "drift", " --utc --json --server --interval --count --duration --plot" },
    };
    for (const auto& a : allowed) {
        if (o.words[0] != a.command)
            continue;
        const std::string permitted = std::string(a.options) + " ";
        size_t at = 0;
        while (at < o.given.size()) {
            const size_t next = o.given.find(' ', at + 1);
            const std::string word = o.given.substr(at, next - at);
            if (std::string::npos == permitted.find(word + " "))
                usageError("%s does not go with %s", word.c_str() + 1, a.command);
            at = std::string::npos == next ? o.given.size() : next;
        }
        return o;
    }
    usageError("unknown command \"%s\"", o.words[0].c_str());
}

} // namespace

int main(int argc, char** argv)
{
    struct sigaction action = {};
    action.sa_handler = onSignal; // no SA_RESTART: a sleep or a wait ends at Ctrl-C
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    try {
        const Options options = parse(argc, argv);
        const std::string& command = options.words[0];
        if ("detect" == command)
            return options.words.size() == 1 ? detect(options)
                                             : (usageError("detect takes no words after it"), 2);
        if ("read" == command)
            return options.words.size() == 1 ? readTime(options)
                                             : (usageError("read takes no words after it"), 2);
        if ("set" == command)
            return setTime(options);
        if ("status" == command)
            return options.words.size() == 1 ? status(options)
                                             : (usageError("status takes no words after it"), 2);
        if ("reg" == command)
            return reg(options);
        return drift(options);
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
