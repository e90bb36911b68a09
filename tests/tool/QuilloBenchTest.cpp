// The real quillo binary on the simulated bench: exact standard output, exit status and the bytes
// that crossed the bus (the simulator's transfer log) for every option and both chips.
#include "BenchRunner.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>

using KovanTest::BenchRun;
using Args = std::vector<std::string>;
using Log = std::vector<std::string>;

namespace {

// A stopped oscillator keeps the calendar exactly where a test put it.
const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";
const std::string S35391A_24H = "QUILLO_SIM_S35391A_STATUS=0x02";
const std::string JULY = "2031- 7- 9(3) - TIME: 21- 8-57\n";

const std::string USAGE = "Quillo v1.0.0\n\n"
                          "Usage: "
    + std::string(QUILLO_BINARY)
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

// One run's transfers: the bus opened, the chip prepared (`init`), `lines`, the bus closed.
Log session(Log lines, const Log& init = {})
{
    lines.insert(lines.begin(), init.begin(), init.end());
    lines.insert(lines.begin(), "open /dev/i2c-0");
    lines.push_back("close /dev/i2c-0");
    return lines;
}

Log isl1208(const Log& lines) { return session(lines, { "slave 0x6f", "write 0x6f 2: 07 10" }); }

// The S35391A's status as it crossed the bus and what init wrote after it; "40" is 0x02 (24-hour
// mode, nothing to do).
Log s35391a(const Log& lines, const char* status = "40", const Log& writes = {})
{
    Log init = { "slave 0x58", std::string("read 0x58 1: ") + status };
    init.insert(init.end(), writes.begin(), writes.end());
    init.push_back("slave 0x5a");
    return session(lines, init);
}

// A run the bench ended at its read number `reads` + 1 (QUILLO_SIM_MAX_READS), with the bus open.
Log endedAfter(Log log, int reads)
{
    log.back() = "exit after " + std::to_string(reads) + " reads";
    return log;
}

std::string readLine(const std::string& date)
{
    return "<<<<< Read  Rtc >>>>>\nRTC   - DATE: " + date;
}

// The first "DATE: ... - TIME: ..." of `out` read as UTC, and the weekday it prints; -1 if none.
time_t shownTime(const std::string& out, int* wday)
{
    tm t = {};
    const size_t at = out.find("DATE: ");
    if (std::string::npos == at
        || !strptime(out.c_str() + at, "DATE: %Y-%m-%d(%w) - TIME: %H-%M-%S", &t))
        return -1;
    *wday = t.tm_wday;
    return timegm(&t);
}

// One bench for the whole table: each row finds the chips as the rows before it left them.
TEST(QuilloBenchTest, EveryOptionOnBothChipsAndOnNoChip)
{
    KovanTest::Bench bench;
    const std::string noBus = "Exception: can't open /dev/i2c-0 (2: No such file or directory)\n";
    const Log reset = { "write 0x58 1: 80", "write 0x58 1: 40" };
    const std::string midnight = readLine("2000- 1- 1(0) - TIME:  0- 0- 0\n");
    const std::string july = "DATE: " + JULY, pointer = "write 0x6f 1: 00";
    const std::string islJuly = "read 0x6f 8: 57 08 21 09 07 31 03 10";
    const std::string s35July = "read 0x5a 7: 8c e0 90 c0 86 10 ea";
    struct Row {
        std::string args;
        Args settings;
        std::string out;
        Log log;
        int status = 0;
        int minMs = 0; // the least the run may take
    };
    const Row rows[] = {
        // The bus is opened first, even for the usage text; an address alone is no option.
        { "", {}, USAGE, session({}) },
        { "0x6F", {}, USAGE, session({}) },
        { "", { "QUILLO_SIM_BUS=absent" }, noBus, {}, 255 },
        { "0x5A -w", { "QUILLO_SIM_BUS=denied" },
            "Exception: can't open /dev/i2c-0 (13: Permission denied)\n", {}, 255 },
        // Missing arguments (six values of seven) and unknown options.
        { "0x6F -wv 2031 7 9 3 21 8", {}, USAGE, isl1208({}) },
        { "0x6F -ra", {}, USAGE, isl1208({}) },
        { "0x6F -wa 5", {}, USAGE, isl1208({}) },
        { "0x6F -rrr", {}, USAGE, isl1208({}) },
        // Years wrap as 32-bit arithmetic does, the lowest one included.
        { "0x6F -wv -2147483648 7 9 3 21 8 57", {}, "",
            isl1208({ "write 0x6f 8: 00 57 08 21 09 07 48 03" }) },
        // ISL1208: register pointer 0, then plain BCD from the second on, the hour without a flag.
        { "0x6F -wv 2031 7 9 3 21 8 57", {}, "",
            isl1208({ "write 0x6f 8: 00 57 08 21 09 07 31 03" }) },
        { "0x6F -r", { STOPPED }, readLine(JULY), isl1208({ pointer, islJuly }) },
        // -rr reads until the bench ends the program (the S35391A's status read counts): here in
        // its fourth reading, after the register pointer.
        { "0x6F -rr 0", { STOPPED, "QUILLO_SIM_MAX_READS=3" }, july + july + july,
            endedAfter(
                isl1208({ pointer, islJuly, pointer, islJuly, pointer, islJuly, pointer }), 3) },
        // Only ADDR's low byte counts. Flag bits above the hour (0x80) are masked away on reading.
        { "0x6F -wa 0x02 0x93", { STOPPED }, "[Write Rtc Address] Addr 0x02 = 0x93 (0x93)\n",
            isl1208({ "write 0x6f 2: 02 93", "write 0x6f 1: 02", "read 0x6f 1: 93" }) },
        { "0x6F -ra 0x102", {}, "[Read Rtc Address] Addr 0x02 = 0x93\n",
            isl1208({ "write 0x6f 1: 02", "read 0x6f 1: 93" }) },
        { "0x6F -r", { STOPPED }, readLine("2031- 7- 9(3) - TIME: 13- 8-57\n"),
            isl1208({ "write 0x6f 1: 00", "read 0x6f 8: 57 08 93 09 07 31 03 10" }) },
        // S35391A (it keeps 24-hour mode from here on): bit-reversed BCD from the year on, 0x40 on
        // the hour from noon, masked off on reading. The address may be decimal or octal.
        { "0x5A -wv 2031 7 9 3 21 8 57", { S35391A_24H }, "0x02\n",
            s35391a({ "write 0x5a 7: 8c e0 90 c0 86 10 ea" }) },
        { "0x5A -r", { STOPPED }, "0x02\n" + readLine(JULY), s35391a({ s35July }) },
        // One reading and its pause of NUM ms; then two with the default 100 ms.
        { "0x5A -rr 250", { STOPPED, "QUILLO_SIM_MAX_READS=2" }, "0x02\n" + july,
            endedAfter(s35391a({ s35July }), 2), 0, 250 },
        { "0x5A -rr", { STOPPED, "QUILLO_SIM_MAX_READS=3" }, "0x02\n" + july + july,
            endedAfter(s35391a({ s35July, s35July }), 3), 0, 200 },
        { "0132 -wv 2031 7 9 3 11 59 59", {}, "0x02\n",
            s35391a({ "write 0x5a 7: 8c e0 90 c0 88 9a 9a" }) },
        { "90 -wv 2031 7 9 3 12 0 0", {}, "0x02\n",
            s35391a({ "write 0x5a 7: 8c e0 90 c0 4a 00 00" }) },
        // No register pointer: the calendar's first byte answers whatever ADDR, as it crossed the
        // bus, and a write goes to the calendar address as it is.
        { "0x5A -ra 5", {}, "0x02\n[Read Rtc Address] Addr 0x05 = 0x8c\n",
            s35391a({ "read 0x5a 1: 8c" }) },
        { "0x5A -wa 0x12 0x34", {}, "0x02\n[Write Rtc Address] Addr 0x12 = 0x34 (0x8c)\n",
            s35391a({ "write 0x5a 2: 12 34", "read 0x5a 1: 8c" }) },
        // Start-up by status byte: battery low or power-on resets the chip (the calendar too),
        // then 24-hour mode, which it keeps; 12-hour mode is switched.
        { "0x5A -x", { "QUILLO_SIM_S35391A_STATUS=0x40" }, "0x40\n" + USAGE,
            s35391a({}, "02", reset) },
        { "0x5A -x", { "QUILLO_SIM_S35391A_STATUS=0x00" }, "0x00\n" + USAGE,
            s35391a({}, "00", { "write 0x58 1: 40" }) },
        { "0x5A -r", { "QUILLO_SIM_S35391A_STATUS=0x80", STOPPED }, "0x80\n" + midnight,
            s35391a({ "read 0x5a 7: 00 80 80 00 00 00 00" }, "01", reset) },
        { "0x5A -r", { STOPPED }, "0x02\n" + midnight,
            s35391a({ "read 0x5a 7: 00 80 80 00 00 00 00" }) },
        // No chip: no calendar transfer; raw access goes to address 0, where the bus starts and
        // nothing answers, so the buffer keeps the address byte it started with.
        { "0x50 -wv 2031 7 9 3 21 8 57", {}, "", session({}) },
        { "0x50 -ra 5", {}, "[Read Rtc Address] Addr 0x05 = 0x05\n",
            session({ "read 0x00 1: ENXIO" }) },
        { "0x50 -wa 5 0x12", {}, "[Write Rtc Address] Addr 0x05 = 0x12 (0x05)\n",
            session({ "write 0x00 2: 05 12 ENXIO", "read 0x00 1: ENXIO" }) },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args + " " + testing::PrintToString(row.settings));
        const auto start = std::chrono::steady_clock::now();
        const BenchRun r = bench.run(QUILLO_BINARY, row.args, row.settings);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(row.minMs));
        EXPECT_EQ(row.out, r.out);
        EXPECT_EQ(row.status, r.status);
        EXPECT_EQ(row.log, bench.takeLog());
    }
}

// -w writes the local time (nine hours east of UTC here) and a stopped chip reads it back; with
// no chip -w writes nothing and -r prints the untouched local time.
TEST(QuilloBenchTest, WriteAndReadTheLocalTime)
{
    KovanTest::Bench bench;
    for (const std::string chip : { "0x6F", "0x5A", "0x50" }) {
        SCOPED_TRACE(chip);
        const time_t before = time(nullptr);
        const BenchRun w = bench.run(QUILLO_BINARY, chip + " -w", { "TZ=JST-9", S35391A_24H });
        const BenchRun r = bench.run(QUILLO_BINARY, chip + " -r", { "TZ=JST-9", STOPPED });
        const time_t after = time(nullptr);
        for (const BenchRun* run : { &w, &r }) {
            int wday = -1;
            const time_t shown = shownTime(run->out, &wday);
            EXPECT_GE(shown - 9 * 3600, before) << run->out;
            EXPECT_LE(shown - 9 * 3600, after) << run->out;
            EXPECT_EQ(gmtime(&shown)->tm_wday, wday);
            EXPECT_EQ(0, run->status);
        }
        const size_t at = w.out.find("<<<<< Write Rtc >>>>>\nRTC   - DATE: ");
        ASSERT_NE(std::string::npos, at) << w.out;
        const Log log = bench.takeLog();
        if ("0x50" == chip) // the bus opened and closed twice, nothing else
            EXPECT_EQ(session({ "close /dev/i2c-0", "open /dev/i2c-0" }), log);
        else // the stopped chip shows what -w wrote
            EXPECT_NE(std::string::npos, r.out.find(w.out.substr(w.out.find("RTC   - ")))) << r.out;
    }
}

} // namespace
