#include "foundation/RawTty.h"
#include "foundation/Trace.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace Kovan {

namespace {

// Speeds by their speed code; the two codes above 15 are 57600 and 115200.
const int32 SPEEDS[16]
    = { 0, 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400 };

// -1 for a code outside the table.
int32 speedOfCode(tcflag_t code)
{
    if (code < 16)
        return SPEEDS[code];
    if (B57600 == code)
        return 57600;
    if (B115200 == code)
        return 115200;
    return -1;
}

// Microseconds in 32-bit arithmetic: only differences are used, right across a wrap.
uint32 microsecondsNow()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint32>(tv.tv_sec) * 1000000u + static_cast<uint32>(tv.tv_usec);
}

static_assert(B9600 == 13 && B57600 == 0x1001 && B115200 == 0x1002 && CBAUD == 0x100F,
    "the speed codes of Linux");

} // namespace

RawTty::RawTty()
    : _fd(-1)
{
}

RawTty::~RawTty() { close(); }

void RawTty::mycfmakeraw(termios* tio)
{
    tio->c_iflag &= ~static_cast<tcflag_t>(
        IGNBRK | BRKINT | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF);
    tio->c_iflag |= IGNPAR;
    tio->c_oflag &= ~static_cast<tcflag_t>(OPOST | OLCUC | ONLCR | OCRNL | ONOCR | ONLRET | OFILL);
    tio->c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CBAUD | CSIZE | CSTOPB | PARENB);
    tio->c_cflag |= CLOCAL | CREAD | CS8 | B9600;
    tio->c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | NOFLSH);
}

int32 RawTty::open(const char* fname)
{
    // O_NOCTTY: a serial line must never become the controlling terminal of the process, or a
    // hang-up on it would signal us.
    const int fd = ::open(fname, O_RDWR | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        trace("KxRawTTYOpen(%s):can't open file\n", fname);
        return -1;
    }
    // Non-blocking only for the open itself (no wait for carrier); reads block from here on,
    // within VMIN and VTIME.
    fcntl(fd, F_SETFL, O_RDWR);
    termios tio;
    if (0 != tcgetattr(fd, &tio)) {
        ::close(fd);
        return -1;
    }
    mycfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VSUSP] = 0;
    if (0 != tcsetattr(fd, TCSANOW, &tio)) {
        ::close(fd);
        return -1;
    }
    close();
    _fd = fd;
    return _fd;
}

void RawTty::close()
{
    if (isOpen()) {
        ::close(_fd);
        _fd = -1;
    }
}

int32 RawTty::set(int32 baud, char parity, int32 data, int32 stop)
{
    termios tio;
    if (!isOpen() || 0 != tcgetattr(_fd, &tio))
        return -1;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | CSIZE | CSTOPB | PARENB | PARODD);

    tcflag_t code;
    if (baud < 57600) {
        code = 0;
        while (code < 16 && SPEEDS[code] < baud)
            ++code;
        if (16 == code)
            return -1;
        trace("baud %0d tbl %d %08x\n", baud, SPEEDS[code], code);
    } else if (57600 == baud) {
        code = B57600;
        trace("baud %0d tbl %d %08x\n", 57600, 57600, code);
    } else if (baud >= 115200) {
        code = B115200;
        trace("baud %0d tbl %d %08x\n", 115200, 115200, code);
    } else {
        code = B9600;
    }
    tio.c_cflag |= code;

    if ('o' == parity)
        tio.c_cflag |= PARENB | PARODD;
    else if ('e' == parity)
        tio.c_cflag |= PARENB;

    switch (data) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }

    if (2 == stop)
        tio.c_cflag |= CSTOPB;

    if (0 != tcsetattr(_fd, TCSANOW, &tio))
        return -1;
    traceStatus();
    return 0;
}

int32 RawTty::get(int32* baud, char* parity, int32* data, int32* stop)
{
    termios tio;
    if (!isOpen() || 0 != tcgetattr(_fd, &tio))
        return -1;
    const int32 speed = speedOfCode(tio.c_cflag & CBAUD);
    if (speed < 0)
        return -1;
    *baud = speed;
    if (0 == (tio.c_cflag & PARENB))
        *parity = 'n';
    else if (0 != (tio.c_cflag & PARODD))
        *parity = 'o';
    else
        *parity = 'e';
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        *data = 5;
        break;
    case CS6:
        *data = 6;
        break;
    case CS7:
        *data = 7;
        break;
    default:
        *data = 8;
        break;
    }
    *stop = 0 != (tio.c_cflag & CSTOPB) ? 2 : 1;
    return 0;
}

int32 RawTty::reset(int32 ctsrts, int32 block)
{
    termios tio;
    if (!isOpen() || 0 != tcgetattr(_fd, &tio))
        return -1;
    mycfmakeraw(&tio);
    if (0 != ctsrts)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    const cc_t wait = 0 != block ? 1 : 0;
    tio.c_cc[VMIN] = wait;
    tio.c_cc[VTIME] = wait;
    tio.c_cc[VSUSP] = wait;
    return 0 == tcsetattr(_fd, TCSANOW, &tio) ? 0 : -1;
}

int32 RawTty::setModem()
{
    termios tio;
    if (!isOpen() || 0 != tcgetattr(_fd, &tio))
        return -1;
    tio.c_oflag |= OPOST | OLCUC | ONLCR;
    return 0 == tcsetattr(_fd, TCSANOW, &tio) ? 0 : -1;
}

int32 RawTty::setModemLine(int32 bit, int32 data)
{
    // A request that fails leaves `lines` as it was, so the final test sees the line unchanged
    // and reports the failure.
    int lines = 0;
    ioctl(_fd, TIOCMGET, &lines);
    if (0 != data)
        lines |= bit;
    else
        lines &= ~bit;
    ioctl(_fd, TIOCMSET, &lines);
    int after = 0 != data ? 0 : bit;
    ioctl(_fd, TIOCMGET, &after);
    return (0 != (after & bit)) == (0 != data) ? 0 : -1;
}

int32 RawTty::setDTR(int32 data)
{
    if (0 != setModemLine(TIOCM_DTR, data)) {
        trace(0 != data ? "tty_setDTR(1): error\n" : "tty_setDTR(0): error\n");
        return -1;
    }
    return 0;
}

int32 RawTty::setRTS(int32 data)
{
    if (!isOpen())
        return -1;
    if (0 != setModemLine(TIOCM_RTS, data)) {
        trace(0 != data ? "KxRawTTYSetRTS(1): error\n" : "KxRawTTYSetRTS(0): error\n");
        return -1;
    }
    return 0;
}

int32 RawTty::getBlockedOutPut(char* buf, int32 n, long utimeout)
{
    if (!isOpen())
        return -1;
    const uint32 start = microsecondsNow();
    int32 received = 0;
    int64 elapsed = 0;
    while (received < n && elapsed < static_cast<int64>(utimeout)) {
        if (1 == ::read(_fd, buf + received, 1))
            ++received;
        elapsed = static_cast<int64>(microsecondsNow() - start);
    }
    buf[received < 0 ? 0 : received] = '\0';
    return received == n ? n : -1;
}

void RawTty::flush()
{
    if (isOpen())
        tcflush(_fd, TCOFLUSH);
}

void RawTty::traceStatus()
{
    termios tio;
    if (!isOpen() || 0 != tcgetattr(_fd, &tio))
        return;
    if (CS7 == (tio.c_cflag & CSIZE))
        trace("termios CS7\n");
    else if (CS8 == (tio.c_cflag & CSIZE))
        trace("termios CS8\n");
    trace("termios cflag baud %d\n", static_cast<int>(tio.c_cflag & CBAUD));
    trace("termios cflag %s\n", 0 != (tio.c_cflag & PARENB) ? "parEnv" : "parDis");
    trace("termios iflag %s\n", 0 != (tio.c_iflag & ISTRIP) ? "ISTRIP" : "-ISTRIP");
    trace("termios lflag %s\n", 0 != (tio.c_lflag & ICANON) ? "-RAW" : "RAW");
    trace("termios lflag %s\n", 0 != (tio.c_lflag & ISIG) ? "ISIG" : "-ISIG");
    trace("termios lflag %s\n", 0 != (tio.c_lflag & ECHO) ? "ECHO" : "-ECHO");
}

void RawTty::traceModemStatus()
{
    int lines = 0;
    if (!isOpen() || 0 != ioctl(_fd, TIOCMGET, &lines))
        return;
    static const struct {
        int bit;
        const char* name;
    } LINES[] = { { TIOCM_LE, "LE " }, { TIOCM_DTR, "DTR " }, { TIOCM_RTS, "RTS " },
        { TIOCM_ST, "ST " }, { TIOCM_SR, "SR " }, { TIOCM_CTS, "CTS " }, { TIOCM_CD, "CD " },
        { TIOCM_RI, "RI " }, { TIOCM_DSR, "DSR " } };
    trace("Modem Control : ");
    for (const auto& line : LINES) {
        if (0 != (lines & line.bit))
            trace("%s", line.name);
    }
    trace("\n");
}

} // namespace Kovan
