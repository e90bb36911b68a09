// The serial line on a real pseudo-terminal pair: RawTty drives the slave, the test plays the
// far end on the master. A pseudo-terminal keeps the speed code, stop bits, flow control and
// VMIN/VTIME, but forces eight data bits without parity and has no modem lines: those are
// checked against a simulated UART in tests/foundation/serial.
#include "foundation/RawTty.h"

#include "support/StderrCapture.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/time.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Kovan;
using KovanTest::StderrCapture;

namespace {

class RawTtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(_master, 0);
        ASSERT_EQ(0, grantpt(_master));
        ASSERT_EQ(0, unlockpt(_master));
        char name[64];
        ASSERT_EQ(0, ptsname_r(_master, name, sizeof(name)));
        _slaveName = name;
    }
    void TearDown() override { ::close(_master); }

    termios slaveSettings(const RawTty& tty)
    {
        termios tio;
        memset(&tio, 0, sizeof(tio));
        EXPECT_EQ(0, tcgetattr(tty.fd(), &tio));
        return tio;
    }

    void writeFromFarEnd(const char* bytes)
    {
        const ssize_t n = static_cast<ssize_t>(strlen(bytes));
        ASSERT_EQ(n, ::write(_master, bytes, static_cast<size_t>(n)));
    }

    int _master = -1;
    std::string _slaveName;
};

// The seven status lines after a set to eight data bits, no parity, in raw mode.
std::string status8n1(int code)
{
    return "termios CS8\ntermios cflag baud " + std::to_string(code)
        + "\ntermios cflag parDis\ntermios iflag -ISTRIP\ntermios lflag RAW\n"
          "termios lflag -ISIG\ntermios lflag -ECHO\n";
}

} // namespace

TEST_F(RawTtyTest, OpenMakesTheLineRawAndReadsReturnAtOnce)
{
    RawTty tty;
    EXPECT_FALSE(tty.isOpen());
    EXPECT_EQ(-1, tty.fd());
    const int32 fd = tty.open(_slaveName.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fd, tty.fd());
    EXPECT_TRUE(tty.isOpen());
    EXPECT_EQ(0, fcntl(fd, F_GETFL) & O_NONBLOCK);

    const termios tio = slaveSettings(tty);
    const tcflag_t clearedInput
        = IGNBRK | BRKINT | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF;
    EXPECT_EQ(0u, tio.c_iflag & clearedInput);
    EXPECT_EQ(static_cast<tcflag_t>(IGNPAR), tio.c_iflag & IGNPAR);
    EXPECT_EQ(0u, tio.c_oflag & 0x7Fu);
    EXPECT_EQ(static_cast<tcflag_t>(B9600), tio.c_cflag & CBAUD);
    EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD), tio.c_cflag & (CLOCAL | CREAD));
    EXPECT_EQ(0u, tio.c_cflag & (CRTSCTS | CSTOPB));
    EXPECT_EQ(0u, tio.c_lflag & (ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | NOFLSH));
    EXPECT_EQ(0, tio.c_cc[VMIN]);
    EXPECT_EQ(0, tio.c_cc[VTIME]);
    EXPECT_EQ(0, tio.c_cc[VSUSP]);

    // Re-opening replaces the descriptor; close and the destructor let it go.
    const int32 second = tty.open(_slaveName.c_str());
    ASSERT_GE(second, 0);
    EXPECT_EQ(-1, fcntl(fd, F_GETFD));
    tty.close();
    EXPECT_FALSE(tty.isOpen());
    EXPECT_EQ(-1, fcntl(second, F_GETFD));
    tty.close();
    int32 scopedFd = -1;
    {
        RawTty scoped;
        scopedFd = scoped.open(_slaveName.c_str());
        ASSERT_GE(scopedFd, 0);
    }
    EXPECT_EQ(-1, fcntl(scopedFd, F_GETFD));
}

TEST_F(RawTtyTest, OpenFailureIsTraced)
{
    RawTty tty;
    StderrCapture err;
    EXPECT_EQ(-1, tty.open("/dev/no-such-tty"));
    EXPECT_EQ("KxRawTTYOpen(/dev/no-such-tty):can't open file\n", err.take());
    EXPECT_FALSE(tty.isOpen());
    // Not a terminal: the settings cannot be read, so the descriptor is given back silently.
    EXPECT_EQ(-1, tty.open("/dev/null"));
    EXPECT_EQ("", err.take());
    EXPECT_FALSE(tty.isOpen());
}

TEST_F(RawTtyTest, SetTracesTheChosenSpeedAndTheStatus)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    StderrCapture err;
    EXPECT_EQ(0, tty.set(9600, 'n', 8, 1));
    EXPECT_EQ("baud 9600 tbl 9600 0000000d\n" + status8n1(13), err.take());

    EXPECT_EQ(0, tty.set(57600, 'n', 8, 1));
    EXPECT_EQ("baud 57600 tbl 57600 00001001\n" + status8n1(4097), err.take());

    EXPECT_EQ(0, tty.set(230400, 'n', 8, 1));
    EXPECT_EQ("baud 115200 tbl 115200 00001002\n" + status8n1(4098), err.take());

    // Between the two high speeds there is no code: 9600 without a speed line.
    EXPECT_EQ(0, tty.set(76800, 'n', 8, 1));
    EXPECT_EQ(status8n1(13), err.take());

    // Between 38400 and 57600 there is no code either: refused, nothing changes.
    EXPECT_EQ(0, tty.set(38400, 'n', 8, 1));
    err.take();
    EXPECT_EQ(-1, tty.set(40000, 'n', 8, 1));
    EXPECT_EQ("", err.take());
    EXPECT_EQ(static_cast<tcflag_t>(B38400), slaveSettings(tty).c_cflag & CBAUD);
}

TEST_F(RawTtyTest, SpeedsAndStopBitsReadBack)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    StderrCapture err;
    const struct {
        int32 requested;
        int32 expected;
    } speeds[] = { { 2000, 2400 }, { 9000, 9600 }, { 50, 50 }, { 51, 75 }, { 1, 50 },
        { 38400, 38400 }, { 57600, 57600 }, { 115200, 115200 }, { 1000000, 115200 },
        { 100000, 9600 }, { 0, 0 } };
    for (const auto& s : speeds) {
        ASSERT_EQ(0, tty.set(s.requested, 'n', 8, 2)) << s.requested;
        int32 baud = -1;
        char parity = '?';
        int32 data = -1;
        int32 stop = -1;
        ASSERT_EQ(0, tty.get(&baud, &parity, &data, &stop));
        EXPECT_EQ(s.expected, baud) << s.requested;
        EXPECT_EQ('n', parity);
        EXPECT_EQ(8, data);
        EXPECT_EQ(2, stop);
    }
    EXPECT_EQ(0, tty.set(9600, 'n', 8, 1));
    int32 baud;
    char parity;
    int32 data;
    int32 stop = 0;
    ASSERT_EQ(0, tty.get(&baud, &parity, &data, &stop));
    EXPECT_EQ(1, stop);
    // Anything but 2 is one stop bit.
    EXPECT_EQ(0, tty.set(9600, 'n', 8, 3));
    ASSERT_EQ(0, tty.get(&baud, &parity, &data, &stop));
    EXPECT_EQ(1, stop);
    EXPECT_NE(std::string::npos, err.take().find("baud 2000 tbl 2400 0000000b\n"));
}

TEST_F(RawTtyTest, ResetChoosesFlowControlAndBlocking)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    StderrCapture err;
    ASSERT_EQ(0, tty.set(115200, 'n', 8, 2));
    ASSERT_EQ(0, tty.reset(1, 1));
    termios tio = slaveSettings(tty);
    EXPECT_EQ(static_cast<tcflag_t>(CRTSCTS), tio.c_cflag & CRTSCTS);
    // Raw mode again: back to 9600, one stop bit.
    EXPECT_EQ(static_cast<tcflag_t>(B9600), tio.c_cflag & CBAUD);
    EXPECT_EQ(0u, tio.c_cflag & CSTOPB);
    EXPECT_EQ(1, tio.c_cc[VMIN]);
    EXPECT_EQ(1, tio.c_cc[VTIME]);
    EXPECT_EQ(1, tio.c_cc[VSUSP]);

    ASSERT_EQ(0, tty.reset(0, 0));
    tio = slaveSettings(tty);
    EXPECT_EQ(0u, tio.c_cflag & CRTSCTS);
    EXPECT_EQ(0, tio.c_cc[VMIN]);
    EXPECT_EQ(0, tio.c_cc[VTIME]);
    EXPECT_EQ(0, tio.c_cc[VSUSP]);

    ASSERT_EQ(0, tty.setModem());
    tio = slaveSettings(tty);
    EXPECT_EQ(static_cast<tcflag_t>(OPOST | OLCUC | ONLCR), tio.c_oflag & (OPOST | OLCUC | ONLCR));
    // Output processing is now visible at the far end.
    ASSERT_EQ(3, ::write(tty.fd(), "a\nb", 3));
    char seen[8] = {};
    ASSERT_EQ(4, ::read(_master, seen, sizeof(seen)));
    EXPECT_STREQ("A\r\nB", seen);
}

TEST_F(RawTtyTest, TimedReadGetsExactlyNBytesOrTimesOut)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    char buf[8];

    writeFromFarEnd("wxyz");
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(4, tty.getBlockedOutPut(buf, 4, 2000000));
    EXPECT_STREQ("wxyz", buf);

    // Three of four bytes: -1 once the time is up, with what came kept and terminated.
    writeFromFarEnd("abc");
    memset(buf, '#', sizeof(buf));
    timeval before;
    gettimeofday(&before, nullptr);
    EXPECT_EQ(-1, tty.getBlockedOutPut(buf, 4, 50000));
    timeval after;
    gettimeofday(&after, nullptr);
    EXPECT_STREQ("abc", buf);
    const long elapsed = (after.tv_sec - before.tv_sec) * 1000000L + (after.tv_usec - before.tv_usec);
    EXPECT_GE(elapsed, 50000);
    EXPECT_LT(elapsed, 2000000);

    // Nothing at all.
    memset(buf, '#', sizeof(buf));
    EXPECT_EQ(-1, tty.getBlockedOutPut(buf, 2, 10000));
    EXPECT_EQ('\0', buf[0]);

    // Binary bytes pass untouched in raw mode (no CR/NL mapping, no stripping).
    const char binary[] = { '\r', '\n', 0x7F, static_cast<char>(0xFF) };
    ASSERT_EQ(4, ::write(_master, binary, 4));
    EXPECT_EQ(4, tty.getBlockedOutPut(buf, 4, 2000000));
    EXPECT_EQ(0, memcmp(binary, buf, 4));
}

TEST_F(RawTtyTest, BlockingReadWaitsForTheFarEnd)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    ASSERT_EQ(0, tty.reset(0, 1));
    // The far end writes only after the read has been asked for; each byte read waits for it.
    std::thread farEnd([this] {
        for (const char* p = "ping"; *p; ++p)
            ASSERT_EQ(1, ::write(_master, p, 1));
    });
    char buf[8];
    EXPECT_EQ(4, tty.getBlockedOutPut(buf, 4, 5000000));
    farEnd.join();
    EXPECT_STREQ("ping", buf);
}

TEST_F(RawTtyTest, ClosedLineFailsQuietly)
{
    RawTty tty;
    StderrCapture err;
    int32 baud;
    char parity;
    int32 data;
    int32 stop;
    char buf[4];
    EXPECT_EQ(-1, tty.set(9600, 'n', 8, 1));
    EXPECT_EQ(-1, tty.get(&baud, &parity, &data, &stop));
    EXPECT_EQ(-1, tty.reset(0, 0));
    EXPECT_EQ(-1, tty.setModem());
    EXPECT_EQ(-1, tty.setRTS(1));
    EXPECT_EQ(-1, tty.getBlockedOutPut(buf, 2, 1000));
    tty.flush();
    tty.traceStatus();
    tty.traceModemStatus();
    EXPECT_EQ("", err.take());
}

TEST_F(RawTtyTest, PseudoTerminalHasNoModemLines)
{
    RawTty tty;
    ASSERT_GE(tty.open(_slaveName.c_str()), 0);
    StderrCapture err;
    EXPECT_EQ(-1, tty.setDTR(1));
    EXPECT_EQ(-1, tty.setDTR(0));
    EXPECT_EQ(-1, tty.setRTS(1));
    EXPECT_EQ(-1, tty.setRTS(0));
    tty.traceModemStatus();
    EXPECT_EQ("tty_setDTR(1): error\ntty_setDTR(0): error\nKxRawTTYSetRTS(1): error\n"
              "KxRawTTYSetRTS(0): error\n",
        err.take());
}
