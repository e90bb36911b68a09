// RawTty against a simulated UART. The terminal calls the library makes (tcgetattr, tcsetattr,
// tcflush, ioctl) are linked to stand-ins: for the simulated device (here /dev/null, recognised
// by its inode) they keep the settings exactly as given and keep modem lines, as a UART driver
// does; for every other descriptor they pass through to the real calls.
#include "support/StderrCapture.h"

#include "foundation/RawTty.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <vector>

using namespace Kovan;

namespace {

const char* UART_PATH = "/dev/null";

struct Uart {
    termios settings = {};
    int lines = 0;
    // Lines that keep their state whatever is written (a broken driver or wiring).
    int stuck = 0;
    std::vector<int> flushes;
};

Uart uart;

bool isUart(int fd)
{
    struct stat device, path;
    return 0 == fstat(fd, &device) && 0 == stat(UART_PATH, &path) && device.st_ino == path.st_ino
        && device.st_dev == path.st_dev;
}

} // namespace

extern "C" {

int __real_tcgetattr(int fd, termios* t);
int __real_tcsetattr(int fd, int when, const termios* t);
int __real_tcflush(int fd, int queue);
int __real_ioctl(int fd, unsigned long request, ...);

int __wrap_tcgetattr(int fd, termios* t)
{
    if (!isUart(fd))
        return __real_tcgetattr(fd, t);
    *t = uart.settings;
    return 0;
}

int __wrap_tcsetattr(int fd, int when, const termios* t)
{
    if (!isUart(fd))
        return __real_tcsetattr(fd, when, t);
    uart.settings = *t;
    return 0;
}

int __wrap_tcflush(int fd, int queue)
{
    if (!isUart(fd))
        return __real_tcflush(fd, queue);
    uart.flushes.push_back(queue);
    return 0;
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (!isUart(fd))
        return __real_ioctl(fd, request, arg);
    int* value = static_cast<int*>(arg);
    switch (request) {
    case TIOCMGET:
        *value = uart.lines;
        return 0;
    case TIOCMSET: {
        // Only the output lines can be driven; the inputs are the far end's.
        const int writable = (TIOCM_DTR | TIOCM_RTS) & ~uart.stuck;
        uart.lines = (uart.lines & ~writable) | (*value & writable);
        return 0;
    }
    default:
        errno = ENOTTY;
        return -1;
    }
}

} // extern "C"

namespace {

// Opens the UART from settings with every bit set, so any bit cleared or set by mistake shows.
class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        uart = Uart();
        memset(&uart.settings, 0xFF, sizeof(uart.settings));
        ASSERT_GE(_tty.open(UART_PATH), 0);
    }

    RawTty _tty;
    KovanTest::StderrCapture _err;
};

} // namespace

TEST_F(SerialTest, OpenClearsExactlyTheRawModeBitsAndFlushDiscardsOutputOnly)
{
    EXPECT_EQ((0xFFFFFFFFu & ~0x17FBu) | 0x4u, uart.settings.c_iflag);
    EXPECT_EQ(0xFFFFFFFFu & ~0x7Fu, uart.settings.c_oflag);
    EXPECT_EQ((0xFFFFFFFFu & 0x7FFFEE80u) | 0x8BDu, uart.settings.c_cflag);
    EXPECT_EQ(0xFFFFFFFFu & ~0xFBu, uart.settings.c_lflag);
    EXPECT_EQ(0, uart.settings.c_cc[VMIN] | uart.settings.c_cc[VTIME] | uart.settings.c_cc[VSUSP]);
    EXPECT_EQ(0xFF, uart.settings.c_cc[VINTR]);
    uart.flushes.clear();
    _tty.flush();
    EXPECT_EQ(std::vector<int>({ TCOFLUSH }), uart.flushes);
}

TEST_F(SerialTest, ParityAndDataBitsReadBackAndShowInTheStatus)
{
    ASSERT_EQ(0, _tty.set(115200, 'e', 7, 2));
    EXPECT_EQ("baud 115200 tbl 115200 00001002\ntermios CS7\ntermios cflag baud 4098\n"
              "termios cflag parEnv\ntermios iflag -ISTRIP\ntermios lflag RAW\n"
              "termios lflag -ISIG\ntermios lflag -ECHO\n",
        _err.take());
    int32 baud, data, stop;
    char parity;
    const struct {
        int32 baud;
        char parity;
        int32 data, stop;
        char parityBack;
        int32 dataBack;
    } cases[] = { { 115200, 'e', 7, 2, 'e', 7 }, { 4800, 'o', 5, 1, 'o', 5 },
        { 4800, 'e', 6, 1, 'e', 6 }, { 4800, 'x', 8, 1, 'n', 8 }, { 4800, 'E', 9, 1, 'n', 8 } };
    for (const auto& c : cases) {
        ASSERT_EQ(0, _tty.set(c.baud, c.parity, c.data, c.stop));
        ASSERT_EQ(0, _tty.get(&baud, &parity, &data, &stop));
        EXPECT_EQ(c.baud, baud);
        EXPECT_EQ(c.stop, stop);
        EXPECT_EQ(c.parityBack, parity) << c.parity;
        EXPECT_EQ(c.dataBack, data) << c.data;
    }
    // Six data bits have no size line; a cooked line shows as such.
    ASSERT_EQ(0, _tty.set(4800, 'o', 6, 1));
    _err.take();
    uart.settings.c_iflag |= ISTRIP;
    uart.settings.c_lflag |= ICANON | ISIG | ECHO;
    _tty.traceStatus();
    EXPECT_EQ("termios cflag baud 12\ntermios cflag parEnv\ntermios iflag ISTRIP\n"
              "termios lflag -RAW\ntermios lflag ISIG\ntermios lflag ECHO\n",
        _err.take());
    // A speed code outside the table cannot be read back.
    uart.settings.c_cflag = (uart.settings.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | B230400;
    EXPECT_EQ(-1, _tty.get(&baud, &parity, &data, &stop));
}

TEST_F(SerialTest, ModemLinesAreDrivenCheckedAndTraced)
{
    EXPECT_EQ(0, _tty.setDTR(1));
    EXPECT_EQ(0, _tty.setRTS(1));
    _tty.traceModemStatus();
    EXPECT_EQ("Modem Control : DTR RTS \n", _err.take());
    EXPECT_EQ(0, _tty.setDTR(0));
    EXPECT_EQ(TIOCM_RTS, uart.lines);
    uart.lines = TIOCM_LE | TIOCM_ST | TIOCM_SR | TIOCM_CTS | TIOCM_CD | TIOCM_RI | TIOCM_DSR;
    _tty.traceModemStatus();
    EXPECT_EQ("Modem Control : LE ST SR CTS CD RI DSR \n", _err.take());

    // A line that does not follow is an error.
    uart.lines = TIOCM_DTR;
    uart.stuck = TIOCM_DTR | TIOCM_RTS;
    EXPECT_EQ(-1, _tty.setDTR(0));
    EXPECT_EQ(0, _tty.setDTR(1));
    EXPECT_EQ(-1, _tty.setRTS(1));
    EXPECT_EQ(0, _tty.setRTS(0));
    EXPECT_EQ("tty_setDTR(0): error\nKxRawTTYSetRTS(1): error\n", _err.take());

    // Closed: RTS refuses at once; DTR tries, and its failed requests give the error line.
    _tty.close();
    EXPECT_EQ(-1, _tty.setRTS(1));
    EXPECT_EQ("", _err.take());
    EXPECT_EQ(-1, _tty.setDTR(1));
    EXPECT_EQ("tty_setDTR(1): error\n", _err.take());
}
