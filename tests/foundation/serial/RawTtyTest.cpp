// RawTty on a pseudo-terminal, and on /dev/null as a UART that the stand-ins below simulate.
#include "foundation/RawTty.h"

#include "support/StderrCapture.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Kovan;

namespace {

struct Uart {
    termios settings = {};
    int lines = 0;
    int stuck = 0; // lines that keep their state whatever is written
    bool refuse = false; // settings
} uart;

bool isUart(int fd)
{
    struct stat device, path;
    return 0 == fstat(fd, &device) && 0 == stat("/dev/null", &path) && device.st_ino == path.st_ino
        && device.st_dev == path.st_dev;
}

} // namespace

extern "C" {

int __real_tcgetattr(int fd, termios* t);
int __real_tcsetattr(int fd, int when, const termios* t);
int __real_ioctl(int fd, unsigned long request, ...);

int __wrap_tcgetattr(int fd, termios* t)
{
    return isUart(fd) ? (*t = uart.settings, 0) : __real_tcgetattr(fd, t);
}

int __wrap_tcsetattr(int fd, int when, const termios* t)
{
    return !isUart(fd) ? __real_tcsetattr(fd, when, t) : uart.refuse ? -1 : (uart.settings = *t, 0);
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    int* value = va_arg(args, int*);
    va_end(args);
    if (!isUart(fd))
        return __real_ioctl(fd, request, value);
    const int writable = (TIOCM_DTR | TIOCM_RTS) & ~uart.stuck;
    if (TIOCMGET != request && TIOCMSET != request)
        return errno = ENOTTY, -1;
    TIOCMGET == request ? * value = uart.lines
                        : uart.lines = (uart.lines & ~writable) | (*value & writable);
    return 0;
}

} // extern "C"

TEST(RawTtyTest, OnAPtyTimedReadGetsNBytesOrTimesOutAndOpenReplacesTheOldLine)
{
    KovanTest::StderrCapture err;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && 0 == grantpt(master) && 0 == unlockpt(master));
    RawTty tty;
    ASSERT_GE(tty.open(ptsname(master)), 0);
    EXPECT_EQ(0, fcntl(tty.fd(), F_GETFL) & O_NONBLOCK) << "reads must block within VMIN/VTIME";
    char buf[8];
    ASSERT_EQ(4, ::write(master, "\r\n\x7f\xff", 4));
    EXPECT_EQ(4, tty.getBlockedOutPut(buf, 4, 2000000));
    EXPECT_EQ(0, memcmp("\r\n\x7f\xff", buf, 5));
    ASSERT_EQ(3, ::write(master, "abc", 3));
    pollfd ready = { tty.fd(), POLLIN, 0 };
    ASSERT_EQ(1, poll(&ready, 1, 5000)) << "the far end's bytes never arrived";
    EXPECT_EQ(-1, tty.getBlockedOutPut(buf, 4, 250000));
    EXPECT_STREQ("abc", buf) << "what came is kept";

    const int32 old = tty.fd();
    ASSERT_GE(tty.open(ptsname(master)), 0);
    EXPECT_EQ(-1, fcntl(old, F_GETFD)) << "the line opened before is left open";
    const int32 fd = tty.fd();
    tty.close();
    EXPECT_EQ(-1, fcntl(fd, F_GETFD)) << "descriptor left open";
    ::close(master);
    err.take();
    for (int32 r : { tty.open("/dev/no-such-tty"), tty.open("/dev/zero"), tty.set(9600, 'n', 8, 1),
             tty.reset(0, 0), tty.setModem(), tty.getBlockedOutPut(buf, 2, 1000), tty.setRTS(1),
             tty.setDTR(1) })
        EXPECT_EQ(-1, r) << "closed";
    EXPECT_NE(std::string::npos, err.take().find("/dev/no-such-tty"))
        << "a failed open is not traced";
}

TEST(RawTtyTest, OnAUartSettingsReadBackAsSetTheStatusNamesThemAndResetMakesItRawAgain)
{
    KovanTest::StderrCapture err;
    memset(&uart.settings, 0xFF, sizeof(uart.settings)); // any bit left on by mistake shows
    RawTty tty;
    ASSERT_GE(tty.open("/dev/null"), 0);
    const termios& t = uart.settings;
    EXPECT_EQ(0u, t.c_lflag & (ECHO | ICANON | ISIG));
    EXPECT_EQ(static_cast<tcflag_t>(CS8 | CREAD | CLOCAL | B9600),
        t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD | CLOCAL | CBAUD));
    EXPECT_EQ(0, t.c_cc[VMIN] | t.c_cc[VTIME]);
    // Speed (traced when it has a code), parity, data and stop bits asked for, then read back.
    const std::pair<int32, const char*> cases[] = { { 2000, "o51 2400o51" }, { 1, "e62 50e62" },
        { 38400, "x82 38400n82" }, { 0, "E93 0n81" }, { 57600, "e71 57600e71" },
        { 230400, "n82 115200n82" }, { 76800, "n81 9600n81" } };
    int32 baud, data, stop;
    char parity;
    for (const auto& [speed, a] : cases) {
        err.take();
        ASSERT_EQ(0, tty.set(speed, a[0], a[1] - '0', a[2] - '0')) << a;
        EXPECT_EQ(76800 != speed, 0 == err.take().find("baud ")) << a;
        ASSERT_EQ(0, tty.get(&baud, &parity, &data, &stop)) << a;
        EXPECT_EQ(
            a + 4, std::to_string(baud) + parity + std::to_string(data) + std::to_string(stop));
    }
    // A speed without a code changes nothing; a code outside the table cannot be read back.
    EXPECT_EQ(-1, tty.set(40000, 'n', 8, 1));
    EXPECT_EQ(static_cast<tcflag_t>(B9600), uart.settings.c_cflag & CBAUD);
    uart.settings.c_cflag = (uart.settings.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | B230400;
    EXPECT_EQ(-1, tty.get(&baud, &parity, &data, &stop));
    err.take();
    ASSERT_EQ(0, tty.set(4800, 'o', 7, 1));
    EXPECT_NE(std::string::npos, err.take().find("\ntermios CS7\ntermios cflag baud 12\n"));
    ASSERT_EQ(0, tty.set(115200, 'e', 8, 2));
    const std::string traced = err.take();
    EXPECT_EQ(8, std::count(traced.begin(), traced.end(), '\n')) << "a line a setting: " << traced;
    // Each traced flag follows the line's setting: flipping it changes exactly that trace line.
    const auto lines = [&] {
        EXPECT_EQ(0, tty.set(115200, 'e', 8, 2));
        return err.take();
    };
    for (tcflag_t termios::*field : { &termios::c_lflag, &termios::c_iflag })
        for (tcflag_t flag : { ICANON, ISIG, ECHO, ISTRIP }) {
            const std::string before = lines();
            uart.settings.*field ^= flag;
            const std::string after = lines();
            uart.settings.*field ^= flag;
            const bool shown = (&termios::c_iflag == field) == (ISTRIP == flag);
            EXPECT_EQ(shown, before != after) << flag << ": " << before << after;
        }
    const tcflag_t modem = OPOST | OLCUC | ONLCR;
    ASSERT_EQ(0, tty.setModem());
    EXPECT_EQ(modem, t.c_oflag & modem);
    // Raw mode again (9600, one stop bit), with or without flow control and waiting reads.
    ASSERT_EQ(0, tty.reset(1, 1));
    EXPECT_EQ(static_cast<tcflag_t>(CRTSCTS | B9600 | CS8),
        t.c_cflag & (CRTSCTS | CBAUD | CSTOPB | CSIZE | PARENB));
    EXPECT_EQ(0u, t.c_oflag & modem);
    EXPECT_EQ(1, t.c_cc[VMIN] & t.c_cc[VTIME] & t.c_cc[VSUSP]);
    ASSERT_EQ(0, tty.reset(0, 0));
    EXPECT_EQ(0u, t.c_cflag & CRTSCTS);
    EXPECT_EQ(0, t.c_cc[VMIN] | t.c_cc[VTIME] | t.c_cc[VSUSP]);
    uart.refuse = true; // a line that takes no settings is not opened
    EXPECT_EQ(-1, tty.open("/dev/null"));
    uart.refuse = false;
}

TEST(RawTtyTest, OnAUartModemLinesFollowWhatIsWrittenAndAStuckLineIsAnError)
{
    KovanTest::StderrCapture err;
    RawTty tty;
    ASSERT_GE(tty.open("/dev/null"), 0);
    uart.lines = uart.stuck = 0;
    for (int32 r : { tty.setDTR(1), tty.setRTS(1), tty.setDTR(0) })
        EXPECT_EQ(0, r);
    EXPECT_EQ(TIOCM_RTS, uart.lines);
    uart.lines = TIOCM_DTR | TIOCM_CTS | TIOCM_RI;
    err.take();
    tty.traceModemStatus();
    EXPECT_EQ("Modem Control : DTR CTS RI \n", err.take());
    uart.lines = TIOCM_DTR;
    uart.stuck = TIOCM_DTR | TIOCM_RTS;
    EXPECT_EQ(0, tty.setDTR(1) + tty.setRTS(0)) << "a stuck line already in place is no error";
    EXPECT_EQ("", err.take());
    for (int32 r : { tty.setDTR(0), tty.setRTS(1) })
        EXPECT_EQ(-1, r);
    const std::string traced = err.take();
    EXPECT_EQ(2, std::count(traced.begin(), traced.end(), '\n')) << "a line a failure: " << traced;
}
