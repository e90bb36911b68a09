// The chip helpers on their own: the encodings, the line format, and the transfers over a
// socket pair standing in for the bus (message boundaries kept, as on I2C).
#include "tool/RtcChip.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Kovan;

namespace {

unsigned char flipped(unsigned char byte)
{
    flipByteOrder(&byte);
    return byte;
}

TEST(RtcChipTest, FlipByteOrderMirrorsTheBits)
{
    const unsigned char cases[][2] = { { 0x01, 0x80 }, { 0x02, 0x40 }, { 0xC0, 0x03 }, { 0xA5, 0xA5 },
        { 0x31, 0x8C }, { 0x00, 0x00 }, { 0xFF, 0xFF }, { 0x0F, 0xF0 } };
    for (const auto& c : cases)
        EXPECT_EQ(c[1], flipped(c[0])) << int(c[0]);
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        EXPECT_EQ(byte, flipped(flipped(byte)));
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ((b >> i) & 1, (flipped(byte) >> (7 - i)) & 1);
    }
}

TEST(RtcChipTest, BcdEncodings)
{
    EXPECT_EQ(0x59, DEC_TO_BCD(59));
    EXPECT_EQ(59, BCD_TO_DEC(0x59));
    for (int v = 0; v < 100; ++v)
        EXPECT_EQ(v, BCD_TO_DEC(DEC_TO_BCD(v)));
    // Out of range values are cut to 8 bits without complaint.
    EXPECT_EQ(0xC3, DEC_TO_BCD(123));
    EXPECT_EQ(123, BCD_TO_DEC(0xC3));
    EXPECT_EQ(0xFB, DEC_TO_BCD(-5));
    EXPECT_EQ(0x95, DEC_TO_BCD(255));
}

// What the code under test prints, captured from standard output.
template <typename F> std::string printed(F f)
{
    fflush(stdout);
    const int saved = dup(1);
    const int memory = memfd_create("stdout", 0);
    dup2(memory, 1);
    f();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text(4096, '\0');
    const ssize_t n = pread(memory, text.data(), text.size(), 0);
    close(memory);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

TEST(RtcChipTest, PrintRtcPadsWithBlanks)
{
    tm t = {};
    t.tm_year = 131;
    t.tm_mon = 6;
    t.tm_mday = 9;
    t.tm_wday = 3;
    t.tm_hour = 1;
    t.tm_min = 2;
    t.tm_sec = 30;
    EXPECT_EQ("RTC   - DATE: 2031- 7- 9(3) - TIME:  1- 2-30\n", printed([&] { printRtc(&t); }));
}

class RtcChipBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_SEQPACKET, 0, _ends));
        _i2cFd = _ends[0];
    }
    void TearDown() override
    {
        close(_ends[0]);
        close(_ends[1]);
        _i2cFd = -1;
        _slave = 0;
    }
    std::string received()
    {
        unsigned char buffer[64];
        const ssize_t n = recv(_ends[1], buffer, sizeof buffer, MSG_DONTWAIT);
        return n < 0 ? "none" : std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
    }
    void answer(const std::string& bytes) { send(_ends[1], bytes.data(), bytes.size(), 0); }

    int _ends[2];
};

tm afternoon()
{
    tm t = {};
    t.tm_year = 131;
    t.tm_mon = 6;
    t.tm_mday = 9;
    t.tm_wday = 3;
    t.tm_hour = 13;
    t.tm_min = 45;
    t.tm_sec = 30;
    return t;
}

TEST_F(RtcChipBusTest, CalendarBlocksOfBothChips)
{
    const tm t = afternoon();
    _slave = ISL1208_ADDRESS;
    writeRtc(&t);
    EXPECT_EQ(std::string("\x00\x30\x45\x13\x09\x07\x31\x03", 8), received());

    // 0x13 + 0x40 = 0x53 before reversal.
    _slave = S35391A_ADDRESS;
    writeRtc(&t);
    EXPECT_EQ(std::string("\x8c\xe0\x90\xc0\xca\xa2\x0c", 7), received());

    // Reading masks the flag away and sets only the calendar fields, yday and isdst.
    answer(std::string("\x8c\xe0\x90\xc0\xca\xa2\x0c", 7));
    tm r = {};
    r.tm_yday = 77;
    r.tm_isdst = 1;
    r.tm_gmtoff = 1234;
    EXPECT_EQ(0, readRtc(&r));
    EXPECT_EQ(131, r.tm_year);
    EXPECT_EQ(6, r.tm_mon);
    EXPECT_EQ(9, r.tm_mday);
    EXPECT_EQ(3, r.tm_wday);
    EXPECT_EQ(13, r.tm_hour);
    EXPECT_EQ(45, r.tm_min);
    EXPECT_EQ(30, r.tm_sec);
    EXPECT_EQ(0, r.tm_yday);
    EXPECT_EQ(0, r.tm_isdst);
    EXPECT_EQ(1234, r.tm_gmtoff);
    EXPECT_EQ("none", received()); // no register pointer on this chip
}

TEST_F(RtcChipBusTest, NoChipSelectedTouchesNeitherTheRecordNorTheBus)
{
    _slave = 0x50;
    tm t = afternoon();
    t.tm_yday = 77;
    writeRtc(&t);
    EXPECT_EQ(0, readRtc(&t));
    EXPECT_EQ(13, t.tm_hour);
    EXPECT_EQ(77, t.tm_yday);
    EXPECT_EQ("none", received());
}

} // namespace
