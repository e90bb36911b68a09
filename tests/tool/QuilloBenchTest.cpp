// The real quillo binary on the simulated bench: exact standard output, exit status and the bytes
// that crossed the bus (the simulator's transfer log) for every option and both chips.
#include "BenchRunner.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

using KovanTest::Bench;
using KovanTest::BenchRun;
using Log = std::vector<std::string>;

namespace {

const std::string QUILLO = QUILLO_BINARY;
// A stopped oscillator keeps the calendar exactly where a test put it.
const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";
const std::string S35391A_24H = "QUILLO_SIM_S35391A_STATUS=0x02";

const std::string USAGE = "Quillo v1.0.0\n\n"
                          "Usage: "
    + QUILLO
    + " SlaveAddr Option\n\n"
      "SlaveAddr:\n"
      "    0x5A        S35391A Rtc Device\n"
      "    0x6F        ISL1208 Rtc Device\n\n"
      "Option:\n"
      "    -r          Read Rtc time\n"
      "    -rr NUM     Read Rtc time each NUM msec.\n"
      "                (default : NUM = 100 msec.)\n"
      "    -ra ADDR    Read Rtc ADDR address value\n"
      "    -w          Write Rtc time to Local time\n"
      "    -wv VAL     Write Rtc time to VAL time\n"
      "    -wa ADDR    Write Rtc ADDR address value\n"
      "                (VAL : year month mday wday hour minute second)\n"
      "    -s IP NUM   Sync Local & Rtc time to IP(server) time and Check NUM sec.\n"
      "                (default : IP = 129.6.15.28, NUM = 1 hour)\n\n";

// One run's transfers: the bus opened, `lines`, the bus closed.
Log session(const Log& lines)
{
    Log log = { "open /dev/i2c-0" };
    log.insert(log.end(), lines.begin(), lines.end());
    log.push_back("close /dev/i2c-0");
    return log;
}

Log operator+(Log a, const Log& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Log ISL1208_INIT = { "slave 0x6f", "write 0x6f 2: 07 10" };
// Status 0x02 on the bus is 0x40: already in 24-hour mode, so nothing is written.
const Log S35391A_INIT = { "slave 0x58", "read 0x58 1: 40", "slave 0x5a" };

std::string readLine(const char* date)
{
    return std::string("<<<<< Read  Rtc >>>>>\nRTC   - ") + date;
}

class QuilloBenchTest : public ::testing::Test {
protected:
    BenchRun quillo(std::vector<std::string> args, const std::vector<std::string>& settings = {})
    {
        args.insert(args.begin(), QUILLO);
        return bench.run(args, settings);
    }

    Bench bench;
};

// The fields of a "DATE: ... - TIME: ..." line, as a calendar record.
bool parseDate(const std::string& text, tm* t)
{
    *t = tm();
    const size_t at = text.find("DATE: ");
    return at != std::string::npos
        && 7
        == sscanf(text.c_str() + at, "DATE: %d-%d-%d(%d) - TIME: %d-%d-%d", &t->tm_year, &t->tm_mon,
            &t->tm_mday, &t->tm_wday, &t->tm_hour, &t->tm_min, &t->tm_sec);
}

time_t utcSeconds(tm t)
{
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return timegm(&t);
}

TEST_F(QuilloBenchTest, UsageNeedsTheBusFirst)
{
    BenchRun r = quillo({});
    EXPECT_EQ(USAGE, r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(session({}), bench.takeLog());

    // A chip address alone is still no option: no chip is touched.
    r = quillo({ "0x6F" });
    EXPECT_EQ(USAGE, r.out);
    EXPECT_EQ(session({}), bench.takeLog());

    for (const std::vector<std::string>& args : { std::vector<std::string>(), { "0x6F", "-r" } }) {
        r = quillo(args, { "QUILLO_SIM_BUS=absent" });
        EXPECT_EQ("Exception: can't open /dev/i2c-0 (2: No such file or directory)\n", r.out);
        EXPECT_EQ(255, r.status);
        EXPECT_EQ(Log(), bench.takeLog());
    }
    r = quillo({ "0x5A", "-w" }, { "QUILLO_SIM_BUS=denied" });
    EXPECT_EQ("Exception: can't open /dev/i2c-0 (13: Permission denied)\n", r.out);
    EXPECT_EQ(255, r.status);
}

TEST_F(QuilloBenchTest, MissingArgumentsAndUnknownOptionsPrintUsageAfterTheChipIsPrepared)
{
    const std::vector<std::vector<std::string>> options = {
        { "-wv", "2031", "7", "9", "3", "21", "8" }, // six values of seven
        { "-ra" },
        { "-wa", "5" },
        { "-R" }, // options are case-sensitive
        { "-rrr" },
    };
    for (const auto& option : options) {
        std::vector<std::string> args = { "0x6F" };
        args.insert(args.end(), option.begin(), option.end());
        const BenchRun r = quillo(args);
        EXPECT_EQ(USAGE, r.out) << option[0];
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(session(ISL1208_INIT), bench.takeLog()) << option[0];
    }
}

TEST_F(QuilloBenchTest, Isl1208CalendarRoundTrip)
{
    BenchRun r = quillo({ "0x6F", "-wv", "2031", "7", "9", "3", "21", "8", "57" });
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(
        session(ISL1208_INIT + Log { "write 0x6f 8: 00 57 08 21 09 07 31 03" }), bench.takeLog());

    r = quillo({ "0x6F", "-r" }, { STOPPED });
    EXPECT_EQ(readLine("DATE: 2031- 7- 9(3) - TIME: 21- 8-57\n"), r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(
        session(ISL1208_INIT + Log { "write 0x6f 1: 00", "read 0x6f 8: 57 08 21 09 07 31 03 10" }),
        bench.takeLog());

    // The hour goes out as plain BCD, noon included.
    quillo({ "0x6F", "-wv", "2000", "1", "1", "6", "12", "5", "3" });
    EXPECT_EQ(
        session(ISL1208_INIT + Log { "write 0x6f 8: 00 03 05 12 01 01 00 06" }), bench.takeLog());
    EXPECT_EQ(readLine("DATE: 2000- 1- 1(6) - TIME: 12- 5- 3\n"),
        quillo({ "0x6F", "-r" }, { STOPPED }).out);

    // Flag bits above the hour (here 0x80) are masked away on reading.
    quillo({ "0x6F", "-wa", "0x02", "0x93" });
    EXPECT_EQ(readLine("DATE: 2000- 1- 1(6) - TIME: 13- 5- 3\n"),
        quillo({ "0x6F", "-r" }, { STOPPED }).out);
}

TEST_F(QuilloBenchTest, S35391ACalendarGoesBitReversedWithTheAfternoonFlag)
{
    struct Case {
        std::vector<std::string> time; // -wv arguments after the date
        std::string bus; // the calendar block as it crosses the bus
        std::string printed;
    };
    const Case cases[] = {
        { { "21", "8", "57" }, "8c e0 90 c0 86 10 ea", "TIME: 21- 8-57\n" },
        { { "12", "0", "0" }, "8c e0 90 c0 4a 00 00", "TIME: 12- 0- 0\n" },
        { { "11", "59", "59" }, "8c e0 90 c0 88 9a 9a", "TIME: 11-59-59\n" },
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = { "0x5A", "-wv", "2031", "7", "9", "3" };
        args.insert(args.end(), c.time.begin(), c.time.end());
        BenchRun r = quillo(args, { S35391A_24H });
        EXPECT_EQ("0x02\n", r.out);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(session(S35391A_INIT + Log { "write 0x5a 7: " + c.bus }), bench.takeLog());

        // The chip answers with its afternoon flag set; the tool masks it off.
        r = quillo({ "0x5A", "-r" }, { S35391A_24H, STOPPED });
        EXPECT_EQ("0x02\n" + readLine("DATE: 2031- 7- 9(3) - ") + c.printed, r.out);
        EXPECT_EQ(session(S35391A_INIT + Log { "read 0x5a 7: " + c.bus }), bench.takeLog());
    }
}

TEST_F(QuilloBenchTest, S35391AStartUpDependsOnTheStatusByte)
{
    const Log reset = { "write 0x58 1: 80", "write 0x58 1: 40" };
    struct Case {
        const char* status;
        const char* bus;
        Log writes;
    };
    const Case cases[] = {
        { "0x80", "01", reset }, // power-on detected
        { "0x40", "02", reset }, // battery low
        { "0xc2", "43", reset }, // both, in 24-hour mode
        { "0x00", "00", { "write 0x58 1: 40" } }, // 12-hour mode: switched to 24
        { "0x02", "40", {} }, // ready
    };
    for (const Case& c : cases) {
        const BenchRun r
            = quillo({ "0x5A", "-x" }, { std::string("QUILLO_SIM_S35391A_STATUS=") + c.status });
        EXPECT_EQ(std::string(c.status) + "\n" + USAGE, r.out);
        EXPECT_EQ(session(Log { "slave 0x58", std::string("read 0x58 1: ") + c.bus } + c.writes
                      + Log { "slave 0x5a" }),
            bench.takeLog())
            << c.status;
    }

    // The reset cleared the calendar and the power-on flag; the chip kept 24-hour mode.
    quillo({ "0x5A", "-wv", "2031", "7", "9", "3", "21", "8", "57" }, { S35391A_24H });
    quillo({ "0x5A", "-r" }, { "QUILLO_SIM_S35391A_STATUS=0x80" });
    EXPECT_EQ("0x02\n" + readLine("DATE: 2000- 1- 1(0) - TIME:  0- 0- 0\n"),
        quillo({ "0x5A", "-r" }, { STOPPED }).out);
}

TEST_F(QuilloBenchTest, RegisterAccess)
{
    BenchRun r = quillo({ "0x6F", "-wa", "0x12", "0xa5" });
    EXPECT_EQ("[Write Rtc Address] Addr 0x12 = 0xa5 (0xa5)\n", r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(session(ISL1208_INIT
                  + Log { "write 0x6f 2: 12 a5", "write 0x6f 1: 12", "read 0x6f 1: a5" }),
        bench.takeLog());

    // Only the low byte of ADDR counts; the fourth word also becomes the unused server address.
    r = quillo({ "0x6F", "-ra", "0x112" });
    EXPECT_EQ("[Read Rtc Address] Addr 0x12 = 0xa5\n", r.out);
    EXPECT_EQ(
        session(ISL1208_INIT + Log { "write 0x6f 1: 12", "read 0x6f 1: a5" }), bench.takeLog());

    // The S35391A has no register pointer: whatever ADDR says, the calendar's first byte answers,
    // as it crossed the bus.
    quillo({ "0x5A", "-wv", "2031", "7", "9", "3", "21", "8", "57" }, { S35391A_24H });
    bench.takeLog();
    r = quillo({ "0x5A", "-ra", "5" }, { S35391A_24H });
    EXPECT_EQ("0x02\n[Read Rtc Address] Addr 0x05 = 0x8c\n", r.out);
    EXPECT_EQ(session(S35391A_INIT + Log { "read 0x5a 1: 8c" }), bench.takeLog());

    r = quillo({ "0x5A", "-wa", "0x12", "0x34" }, { S35391A_24H });
    EXPECT_EQ("0x02\n[Write Rtc Address] Addr 0x12 = 0x34 (0x8c)\n", r.out);
    EXPECT_EQ(
        session(S35391A_INIT + Log { "write 0x5a 2: 12 34", "read 0x5a 1: 8c" }), bench.takeLog());
}

TEST_F(QuilloBenchTest, ChipAddressIsReadInDecimalHexOrOctal)
{
    quillo({ "0x5A", "-wv", "2031", "7", "9", "3", "21", "8", "57" }, { S35391A_24H });
    bench.takeLog();
    for (const char* address : { "90", "0x5A", "0x5a", "0132" }) {
        const BenchRun r = quillo({ address, "-r" }, { S35391A_24H, STOPPED });
        EXPECT_EQ("0x02\n" + readLine("DATE: 2031- 7- 9(3) - TIME: 21- 8-57\n"), r.out) << address;
        EXPECT_EQ(
            session(S35391A_INIT + Log { "read 0x5a 7: 8c e0 90 c0 86 10 ea" }), bench.takeLog());
    }
}

TEST_F(QuilloBenchTest, AnAddressOfNoChipLeavesOnlyRawTransfers)
{
    BenchRun r = quillo({ "0x50", "-wv", "2031", "7", "9", "3", "21", "8", "57" });
    EXPECT_EQ("", r.out);
    EXPECT_EQ(session({}), bench.takeLog());

    // -r prints the untouched local time, -w writes nothing.
    for (const char* option : { "-r", "-w" }) {
        const time_t before = time(nullptr);
        r = quillo({ "0x50", option });
        const time_t after = time(nullptr);
        tm shown;
        ASSERT_TRUE(parseDate(r.out, &shown)) << r.out;
        EXPECT_GE(utcSeconds(shown), before);
        EXPECT_LE(utcSeconds(shown), after);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(session({}), bench.takeLog()) << option;
    }

    // Nothing answers at address 0, where the bus starts: the buffer keeps the address byte it
    // started with, and that is what gets printed.
    r = quillo({ "0x50", "-ra", "5" });
    EXPECT_EQ("[Read Rtc Address] Addr 0x05 = 0x05\n", r.out);
    EXPECT_EQ(session({ "read 0x00 1: ENXIO" }), bench.takeLog());
    r = quillo({ "0x50", "-wa", "5", "0x12" });
    EXPECT_EQ("[Write Rtc Address] Addr 0x05 = 0x12 (0x05)\n", r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(session({ "write 0x00 2: 05 12 ENXIO", "read 0x00 1: ENXIO" }), bench.takeLog());
}

TEST_F(QuilloBenchTest, WriteTakesTheLocalTime)
{
    // A zone nine hours east of UTC: the chips keep local time.
    const std::string zone = "TZ=JST-9";
    for (const char* chip : { "0x6F", "0x5A" }) {
        const time_t before = time(nullptr);
        const BenchRun w = quillo({ chip, "-w" }, { zone, S35391A_24H });
        const time_t after = time(nullptr);
        EXPECT_EQ(0, w.status);
        tm written;
        ASSERT_TRUE(parseDate(w.out, &written)) << w.out;
        EXPECT_NE(std::string::npos, w.out.find("<<<<< Write Rtc >>>>>\nRTC   - DATE: "));
        EXPECT_GE(utcSeconds(written) - 9 * 3600, before);
        EXPECT_LE(utcSeconds(written) - 9 * 3600, after);
        const time_t local = utcSeconds(written);
        EXPECT_EQ(gmtime(&local)->tm_wday, written.tm_wday);

        // Read back from a stopped chip: the same record.
        const BenchRun r = quillo({ chip, "-r" }, { S35391A_24H, STOPPED });
        const size_t at = w.out.find("RTC   - ");
        ASSERT_NE(std::string::npos, at);
        EXPECT_NE(std::string::npos, r.out.find(w.out.substr(at))) << r.out;
    }
}

TEST_F(QuilloBenchTest, RepeatedReadPrintsEveryReadingUntilStopped)
{
    quillo({ "0x6F", "-wv", "2031", "7", "9", "3", "21", "8", "57" });
    bench.takeLog();
    // The bench ends the endless loop when it asks for a fourth reading.
    BenchRun r = quillo({ "0x6F", "-rr", "0" }, { STOPPED, "QUILLO_SIM_MAX_READS=3" });
    const std::string line = "DATE: 2031- 7- 9(3) - TIME: 21- 8-57\n";
    EXPECT_EQ(line + line + line, r.out);
    EXPECT_EQ(0, r.status);
    const Log reading = { "write 0x6f 1: 00", "read 0x6f 8: 57 08 21 09 07 31 03 10" };
    // The fourth reading gets as far as its register pointer.
    const Log expected = Log { "open /dev/i2c-0" } + ISL1208_INIT + reading + reading + reading
        + Log { "write 0x6f 1: 00", "exit after 3 reads" };
    EXPECT_EQ(expected, bench.takeLog());

    // The period is honoured: four readings, each followed by a 40 ms pause.
    quillo({ "0x5A", "-wv", "2031", "7", "9", "3", "21", "8", "57" }, { S35391A_24H });
    const auto start = std::chrono::steady_clock::now();
    r = quillo({ "0x5A", "-rr", "40" }, { S35391A_24H, STOPPED, "QUILLO_SIM_MAX_READS=5" });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ("0x02\n" + line + line + line + line, r.out);
    EXPECT_GE(took, std::chrono::milliseconds(160));

    // Without NUM the period is 100 ms.
    const auto again = std::chrono::steady_clock::now();
    r = quillo({ "0x5A", "-rr" }, { S35391A_24H, STOPPED, "QUILLO_SIM_MAX_READS=3" });
    EXPECT_EQ("0x02\n" + line + line, r.out);
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(200));
}

TEST_F(QuilloBenchTest, TheChipKeepsCountingBetweenRunsAtItsOwnRate)
{
    quillo({ "0x6F", "-wv", "2031", "7", "9", "3", "23", "59", "58" });
    // Pretend the chip was set ten days ago; it runs 100 ppm fast (86.4 s in ten days).
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const std::string state = KovanTest::readFile(bench.statePath());
    char setAt[64];
    snprintf(
        setAt, sizeof setAt, "@ %ld.%09ld", static_cast<long>(now.tv_sec - 864000), now.tv_nsec);
    const std::string aged = std::regex_replace(
        state, std::regex("(isl1208\\.calendar [^@]*)@ [0-9.]+"), "$1" + std::string(setAt));
    ASSERT_NE(state, aged);
    KovanTest::writeFile(bench.statePath(), aged);

    const BenchRun r = quillo({ "0x6F", "-r" }, { "QUILLO_SIM_DRIFT_PPM=100" });
    tm shown;
    ASSERT_TRUE(parseDate(r.out, &shown)) << r.out;
    // 23:59:58 + 10 days + 86.4 s; the weekday counter advanced eleven days.
    tm expected = { 24, 1, 0, 20, 7, 2031, 0, 0, 0, 0, nullptr };
    EXPECT_GE(utcSeconds(shown), utcSeconds(expected));
    EXPECT_LE(utcSeconds(shown), utcSeconds(expected) + 2);
    EXPECT_EQ(0, shown.tm_wday);
}

} // namespace
