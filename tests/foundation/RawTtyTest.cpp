// The serial line on a real pseudo-terminal pair: RawTty drives the slave, the test plays the far
// end on the master. A pseudo-terminal keeps the speed code, stop bits, flow control and
// VMIN/VTIME, but forces eight data bits without parity and has no modem lines: those are
// checked against a simulated UART in tests/foundation/serial.
#include "foundation/RawTty.h"

#include "support/StderrCapture.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace Kovan;

namespace {

class RawTtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(_master >= 0 && 0 == grantpt(_master) && 0 == unlockpt(_master));
        ASSERT_GE(_tty.open(ptsname(_master)), 0);
    }
    void TearDown() override { ::close(_master); }

    termios settings()
    {
        termios tio = {};
        EXPECT_EQ(0, tcgetattr(_tty.fd(), &tio));
        return tio;
    }
    // The speed and stop bits read back after a set with eight data bits and no parity.
    std::pair<int32, int32> setAndGet(int32 baud, int32 stop)
    {
        int32 data, back, stopBack;
        char parity;
        EXPECT_EQ(0, _tty.set(baud, 'n', 8, stop)) << baud;
        EXPECT_EQ(0, _tty.get(&back, &parity, &data, &stopBack)) << baud;
        return { back, stopBack };
    }

    int _master = -1;
    RawTty _tty;
    KovanTest::StderrCapture _err;
};

// The seven status lines for eight data bits, no parity, raw mode.
std::string status8n1(int code)
{
    return "termios CS8\ntermios cflag baud " + std::to_string(code)
        + "\ntermios cflag parDis\ntermios iflag -ISTRIP\ntermios lflag RAW\n"
          "termios lflag -ISIG\ntermios lflag -ECHO\n";
}

} // namespace

TEST_F(RawTtyTest, OpenMakesTheLineRawWithReadsThatReturnAtOnce)
{
    // The exact flag masks are checked on the simulated UART; here the line really is raw.
    EXPECT_EQ(0, fcntl(_tty.fd(), F_GETFL) & O_NONBLOCK);
    const termios tio = settings();
    EXPECT_EQ(static_cast<tcflag_t>(B9600 | CLOCAL | CREAD),
        tio.c_cflag & (CBAUD | CLOCAL | CREAD | CRTSCTS | CSTOPB));
    EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(0, tio.c_cc[VMIN] | tio.c_cc[VTIME] | tio.c_cc[VSUSP]);

    const int32 fd = _tty.fd();
    _tty.close();
    EXPECT_EQ(-1, fcntl(fd, F_GETFD));
    EXPECT_EQ(-1, _tty.open("/dev/no-such-tty"));
    EXPECT_EQ("KxRawTTYOpen(/dev/no-such-tty):can't open file\n", _err.take());
    // Not a terminal: the settings cannot be read; the descriptor is given back silently.
    EXPECT_EQ(-1, _tty.open("/dev/null"));
    EXPECT_EQ("", _err.take());
    EXPECT_FALSE(_tty.isOpen());
}

TEST_F(RawTtyTest, SetPicksTheSpeedCodeAndTracesTheStatus)
{
    EXPECT_EQ(0, _tty.set(9600, 'n', 8, 1));
    EXPECT_EQ("baud 9600 tbl 9600 0000000d\n" + status8n1(13), _err.take());
    EXPECT_EQ(0, _tty.set(57600, 'n', 8, 1));
    EXPECT_EQ("baud 57600 tbl 57600 00001001\n" + status8n1(4097), _err.take());
    EXPECT_EQ(0, _tty.set(230400, 'n', 8, 1));
    EXPECT_EQ("baud 115200 tbl 115200 00001002\n" + status8n1(4098), _err.take());
    // Between the two high speeds: 9600 without a speed line.
    EXPECT_EQ(0, _tty.set(76800, 'n', 8, 1));
    EXPECT_EQ(status8n1(13), _err.take());
    // Between 38400 and 57600 there is no code: refused, nothing changes.
    EXPECT_EQ(-1, _tty.set(40000, 'n', 8, 1));
    EXPECT_EQ("", _err.take());
    EXPECT_EQ(static_cast<tcflag_t>(B9600), settings().c_cflag & CBAUD);

    for (const auto& s : { std::pair<int32, int32> { 2000, 2400 }, { 51, 75 }, { 1, 50 },
             { 38400, 38400 }, { 0, 0 }, { 115200, 115200 } })
        EXPECT_EQ(std::make_pair(s.second, 2), setAndGet(s.first, 2));
    EXPECT_EQ(0u, _err.take().find("baud 2000 tbl 2400 0000000b\n"));
    EXPECT_EQ(std::make_pair(9600, 1), setAndGet(9600, 3));
}

TEST_F(RawTtyTest, ResetAndSetModem)
{
    ASSERT_EQ(0, _tty.set(115200, 'n', 8, 2));
    ASSERT_EQ(0, _tty.reset(1, 1));
    termios tio = settings();
    // Raw mode again (9600, one stop bit), with flow control and waiting reads.
    EXPECT_EQ(static_cast<tcflag_t>(CRTSCTS | B9600), tio.c_cflag & (CRTSCTS | CBAUD | CSTOPB));
    EXPECT_EQ(1, tio.c_cc[VMIN] & tio.c_cc[VTIME] & tio.c_cc[VSUSP]);
    ASSERT_EQ(0, _tty.reset(0, 0));
    tio = settings();
    EXPECT_EQ(0u, tio.c_cflag & CRTSCTS);
    EXPECT_EQ(0, tio.c_cc[VMIN] | tio.c_cc[VTIME] | tio.c_cc[VSUSP]);

    // Output processing is visible at the far end.
    ASSERT_EQ(0, _tty.setModem());
    ASSERT_EQ(3, ::write(_tty.fd(), "a\nb", 3));
    char seen[8] = {};
    ASSERT_EQ(4, ::read(_master, seen, sizeof(seen)));
    EXPECT_STREQ("A\r\nB", seen);
}

TEST_F(RawTtyTest, TimedReadGetsExactlyNBytesOrTimesOut)
{
    char buf[8];
    ASSERT_EQ(4, ::write(_master, "\r\n\x7f\xff", 4));
    EXPECT_EQ(4, _tty.getBlockedOutPut(buf, 4, 2000000));
    EXPECT_EQ(0, memcmp("\r\n\x7f\xff", buf, 5));

    // Three of four bytes: -1 once the time is up, with what came kept and terminated.
    ASSERT_EQ(3, ::write(_master, "abc", 3));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, _tty.getBlockedOutPut(buf, 4, 50000));
    const auto elapsed = std::chrono::steady_clock::now() - before;
    EXPECT_STREQ("abc", buf);
    EXPECT_GE(elapsed, std::chrono::milliseconds(50));
    EXPECT_LT(elapsed, std::chrono::seconds(2));

    // A blocking line waits for bytes that come one at a time.
    ASSERT_EQ(0, _tty.reset(0, 1));
    std::thread farEnd([this] {
        for (const char* p = "ping"; *p; ++p)
            EXPECT_EQ(1, ::write(_master, p, 1));
    });
    EXPECT_EQ(4, _tty.getBlockedOutPut(buf, 4, 5000000));
    farEnd.join();
    EXPECT_STREQ("ping", buf);
}

TEST_F(RawTtyTest, ClosedLineAndMissingModemLines)
{
    // A pseudo-terminal has no modem lines: every request fails with its error line.
    for (int32 state : { 1, 0 })
        EXPECT_TRUE(-1 == _tty.setDTR(state) && -1 == _tty.setRTS(state));
    _tty.traceModemStatus();
    EXPECT_EQ("tty_setDTR(1): error\nKxRawTTYSetRTS(1): error\ntty_setDTR(0): error\n"
              "KxRawTTYSetRTS(0): error\n",
        _err.take());

    _tty.close();
    int32 baud, data, stop;
    char parity, buf[4];
    EXPECT_EQ(-1, _tty.set(9600, 'n', 8, 1));
    EXPECT_EQ(-1, _tty.get(&baud, &parity, &data, &stop));
    EXPECT_EQ(-1, _tty.reset(0, 0));
    EXPECT_EQ(-1, _tty.setModem());
    EXPECT_EQ(-1, _tty.setRTS(1));
    EXPECT_EQ(-1, _tty.getBlockedOutPut(buf, 2, 1000));
    _tty.flush();
    _tty.traceStatus();
    _tty.traceModemStatus();
    EXPECT_EQ("", _err.take());
}
