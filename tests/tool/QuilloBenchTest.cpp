// quillo on the simulated bench: its output, exit status and the bytes that crossed the bus.
#include "support/BenchRunner.h"

#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

using KovanTest::BenchRun;
using Log = std::vector<std::string>;

namespace {

// A stopped oscillator keeps the calendar exactly where a test put it.
const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000",
                  S35391A_24H = "QUILLO_SIM_S35391A_STATUS=0x02",
                  JULY = "2031- 7- 9(3) - TIME: 21- 8-57\n";

// One run's transfers: the bus opened, the chip prepared (`init`), `lines`, the bus closed.
Log session(const Log& lines, Log init = {})
{
    init.insert(init.begin(), "open /dev/i2c-0");
    init.insert(init.end(), lines.begin(), lines.end());
    init.push_back("close /dev/i2c-0");
    return init;
}

Log isl(const Log& lines) { return session(lines, { "slave 0x6f", "write 0x6f 2: 07 10" }); }

// The S35391A's status as it crossed the bus ("40": 0x02) and what init wrote after it.
Log s35(const Log& lines, const char* status = "40", Log init = {})
{
    init.insert(init.begin(), { "slave 0x58", std::string("read 0x58 1: ") + status });
    init.push_back("slave 0x5a");
    return session(lines, init);
}

// A run the bench ended at read number `reads` + 1 (QUILLO_SIM_MAX_READS), the bus open.
Log ended(Log log, int reads)
{
    log.back() = "exit after " + std::to_string(reads) + " reads";
    return log;
}

// One bench: each row finds the chips as the rows before it left them.
TEST(QuilloBenchTest, EveryOptionOnBothChipsAndOnNoChip)
{
    KovanTest::Bench bench;
    const std::string usage = bench.run(QUILLO_BINARY, "").out;
    EXPECT_EQ(0u, usage.find("Quillo v1.0.0\n\nUsage: " QUILLO_BINARY " SlaveAddr Option\n"));
    bench.takeLog();
    const std::string rtcRead = "<<<<< Read  Rtc >>>>>\nRTC   - DATE: ";
    const Log reset = { "write 0x58 1: 80", "write 0x58 1: 40" };
    const std::string midnight = rtcRead + "2000- 1- 1(0) - TIME:  0- 0- 0\n";
    const std::string july = "DATE: " + JULY, pointer = "write 0x6f 1: 00",
                      islJuly = "read 0x6f 8: 57 08 21 09 07 31 03 10",
                      s35July = "read 0x5a 7: 8c e0 90 c0 86 10 ea",
                      s35Write = "write 0x5a 7: 8c e0 90 c0 ",
                      midnightRead = "read 0x5a 7: 00 80 80 00 00 00 00";
    struct Row {
        std::string args;
        Log settings;
        std::string out;
        Log log;
        int status = 0;
        int minMs = 0; // the least the run may take
    };
    const Row rows[] = {
        { "", {}, usage, session({}) },
        { "0x6F", {}, usage, session({}) },
        { "", { "QUILLO_SIM_BUS=denied" },
            "Exception: can't open /dev/i2c-0 (13: Permission denied)\n", {}, 255 },
        { "0x6F -wv 2031 7 9 3 21 8", {}, usage, isl({}) },
        { "0x6F -ra", {}, usage, isl({}) },
        { "0x6F -wa 5", {}, usage, isl({}) },
        { "0x6F -rrr", {}, usage, isl({}) },
        // Years wrap as 32-bit arithmetic does.
        { "0x6F -wv -2147483648 7 9 3 21 8 57", {}, "",
            isl({ "write 0x6f 8: 00 57 08 21 09 07 48 03" }) },
        { "0x6F -wv 2031 7 9 3 21 8 57", {}, "", isl({ "write 0x6f 8: 00 57 08 21 09 07 31 03" }) },
        { "0x6F -r", { STOPPED }, rtcRead + JULY, isl({ pointer, islJuly }) },
        // -rr reads until the bench ends the program: here in its fourth reading.
        { "0x6F -rr 0", { STOPPED, "QUILLO_SIM_MAX_READS=3" }, july + july + july,
            ended(isl({ pointer, islJuly, pointer, islJuly, pointer, islJuly, pointer }), 3) },
        // Only ADDR's low byte counts; flag bits above the hour are masked away.
        { "0x6F -wa 0x02 0x93", { STOPPED }, "[Write Rtc Address] Addr 0x02 = 0x93 (0x93)\n",
            isl({ "write 0x6f 2: 02 93", "write 0x6f 1: 02", "read 0x6f 1: 93" }) },
        { "0x6F -ra 0x102", {}, "[Read Rtc Address] Addr 0x02 = 0x93\n",
            isl({ "write 0x6f 1: 02", "read 0x6f 1: 93" }) },
        { "0x6F -r", { STOPPED }, rtcRead + "2031- 7- 9(3) - TIME: 13- 8-57\n",
            isl({ "write 0x6f 1: 00", "read 0x6f 8: 57 08 93 09 07 31 03 10" }) },
        // S35391A, in 24-hour mode from here on: 0x40 on the hour from noon; decimal, octal ADDR.
        { "0x5A -wv 2031 7 9 3 21 8 57", { S35391A_24H }, "0x02\n",
            s35({ s35Write + "86 10 ea" }) },
        { "0x5A -r", { STOPPED }, "0x02\n" + rtcRead + JULY, s35({ s35July }) },
        { "0x5A -rr 250", { STOPPED, "QUILLO_SIM_MAX_READS=2" }, "0x02\n" + july,
            ended(s35({ s35July }), 2), 0, 250 },
        { "0x5A -rr", { STOPPED, "QUILLO_SIM_MAX_READS=3" }, "0x02\n" + july + july,
            ended(s35({ s35July, s35July }), 3), 0, 200 },
        { "0132 -wv 2031 7 9 3 11 59 59", {}, "0x02\n", s35({ s35Write + "88 9a 9a" }) },
        { "90 -wv 2031 7 9 3 12 0 0", {}, "0x02\n", s35({ s35Write + "4a 00 00" }) },
        // No register pointer: the calendar's first byte answers whatever ADDR.
        { "0x5A -ra 5", {}, "0x02\n[Read Rtc Address] Addr 0x05 = 0x8c\n",
            s35({ "read 0x5a 1: 8c" }) },
        { "0x5A -wa 0x12 0x34", {}, "0x02\n[Write Rtc Address] Addr 0x12 = 0x34 (0x8c)\n",
            s35({ "write 0x5a 2: 12 34", "read 0x5a 1: 8c" }) },
        // Battery low or power-on resets the chip (the calendar too); 12-hour mode is switched.
        { "0x5A -x", { "QUILLO_SIM_S35391A_STATUS=0x40" }, "0x40\n" + usage, s35({}, "02", reset) },
        { "0x5A -x", { "QUILLO_SIM_S35391A_STATUS=0x00" }, "0x00\n" + usage,
            s35({}, "00", { "write 0x58 1: 40" }) },
        { "0x5A -r", { "QUILLO_SIM_S35391A_STATUS=0x80", STOPPED }, "0x80\n" + midnight,
            s35({ midnightRead }, "01", reset) },
        { "0x5A -r", { STOPPED }, "0x02\n" + midnight, s35({ midnightRead }) },
        // No chip: raw access goes to address 0, where nothing answers.
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

// -w writes the local time and a stopped chip reads it back; with no chip -r shows the local time.
TEST(QuilloBenchTest, WriteAndReadTheLocalTime)
{
    KovanTest::Bench bench;
    // Whether `out` shows `title` and a second since `since` as local time (nine hours east).
    const auto showsNow = [](const std::string& out, const char* title, time_t since) {
        char text[96];
        for (time_t t = since + 32400; t <= time(nullptr) + 32400; ++t) {
            (void)strftime(text, sizeof text, "RTC   - DATE: %Y-%_m-%_d(%w) - TIME: %_H-%_M-%_S\n",
                gmtime(&t));
            if (std::string::npos != out.find(title + std::string(text)))
                return true;
        }
        return false;
    };
    for (const std::string chip : { "0x6F", "0x5A", "0x50" }) {
        const time_t before = time(nullptr);
        const BenchRun w = bench.run(QUILLO_BINARY, chip + " -w", { "TZ=JST-9", S35391A_24H });
        const BenchRun r = bench.run(QUILLO_BINARY, chip + " -r", { "TZ=JST-9", STOPPED });
        EXPECT_TRUE(showsNow(w.out, "<<<<< Write Rtc >>>>>\n", before)) << chip << w.out;
        EXPECT_TRUE(showsNow(r.out, "<<<<< Read  Rtc >>>>>\n", before)) << chip << r.out;
        EXPECT_EQ(0, w.status + r.status);
        const Log log = bench.takeLog();
        EXPECT_TRUE("0x50" == chip
                ? session({ "close /dev/i2c-0", "open /dev/i2c-0" }) == log
                : r.out.find(w.out.substr(w.out.find("RTC   - "))) < r.out.size())
            << chip << r.out;
    }
}

// Runs quillo against a time server on the private 127.0.0.1:123 that answers its k-th request
// with `replies`[k] (seconds since 1970; NAN: an empty datagram, which fails the query), and
// keeps what quillo had printed by each request.
BenchRun againstServer(const KovanTest::Bench& bench, const std::string& args,
    const std::vector<double>& replies, std::vector<std::string>* printed)
{
    sockaddr_in address = { AF_INET, htons(123), { htonl(INADDR_LOOPBACK) }, {} };
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(0, bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    std::thread server([&] {
        for (const double reply : replies) {
            pollfd ready = { fd, POLLIN, 0 };
            unsigned char packet[48] = {};
            socklen_t length = sizeof address;
            if (1 != poll(&ready, 1, 20000)
                || recvfrom(fd, packet, 48, 0, reinterpret_cast<sockaddr*>(&address), &length) < 48)
                return;
            printed->push_back(KovanTest::readFile(bench.path("out")));
            memcpy(packet + 24, packet + 40, 8); // originate: the request's transmit time
            packet[0] = 0x24, packet[1] = 1; // version 4, server, stratum 1
            const auto ntp = uint64_t(std::isnan(reply) ? 0 : (reply + 2208988800.0) * 0x1p32);
            for (int i = 0; i < 8; ++i)
                packet[32 + i] = packet[40 + i] = uint8_t(ntp >> (56 - 8 * i));
            (void)sendto(fd, packet, std::isnan(reply) ? 0 : 48, 0,
                reinterpret_cast<sockaddr*>(&address), length);
        }
    });
    BenchRun r = bench.run(QUILLO_BINARY, args, { STOPPED, "QUILLO_SIM_MAX_READS=3" });
    server.join();
    close(fd);
    return r;
}

// -s against a server whose time jumps, with a stopped chip: each check shows the jump, a failed
// query is reported and counted, and all is on standard output before the next query.
TEST(QuilloBenchTest, DriftTestComparesTheChipWithTheServerEveryPeriod)
{
    KovanTest::Bench bench;
    const double set = 1941397737.5; // 2031-07-09 21:08:57.5 UTC, a Wednesday
    const auto date
        = [](const char* time) { return "DATE: 2031- 7- 9(3) - TIME: " + std::string(time); };
    const auto check = [&](const char* elapsed, const char* server, const char* diff) {
        return "<<<<< Check Server & Local & Rtc >>>>> - Elapsed : " + std::string(elapsed)
            + " min.\nSERVER- " + date(server) + "\nRTC   - " + date("21- 8-57")
            + "\n\nDIFF  = " + diff + "\n\n";
    };
    const std::string blocks[] = {
        "Connection Success!!\n<<<<< Sync Local & Rtc to Server >>>>>\nSERVER- " + date("21- 8-57")
            + "\n\n",
        check("0.02", "21- 9- 0", "3 sec. (RTC is slower than SERVER)"),
        "!!! Connect Fail !!! - Elapsed : 0.03 min.\n\n",
        check("0.05", "21- 8-55", "-2 sec. (RTC is fasterthan SERVER)"),
        check("0.07", "21- 8-57", "0 sec. (RTC is equal to SERVER)"),
    };
    std::vector<std::string> printed;
    const auto start = std::chrono::steady_clock::now();
    BenchRun r = againstServer(
        bench, "0x6F -s 127.0.0.1 1", { set, set + 3, NAN, set - 2, set, set }, &printed);
    // A period of 1 s before each of the five queries after the first.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(6u, printed.size()) << r.out;
    std::string all;
    for (size_t k = 0; k < printed.size(); all += k < 5 ? blocks[k] : "", ++k)
        EXPECT_EQ(all, printed[k]) << "printed before query " << k;
    EXPECT_EQ(all, r.out);
    EXPECT_EQ(0, r.status);

    // A first query that fails ends the run.
    bench.takeLog();
    r = againstServer(bench, "0x6F -s 127.0.0.1", { NAN }, &printed);
    EXPECT_EQ("Connection Fail!\n", r.out);
    EXPECT_EQ(isl({}), bench.takeLog());
}

} // namespace
