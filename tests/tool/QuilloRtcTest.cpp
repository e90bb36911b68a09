// quillo-rtc on the simulated bench; the test program has a private network for its time servers.
#include "support/BenchRunner.h"
#include "support/PrivateNetwork.h"
#include "support/TimeSupport.h"

#include "sntp/SntpModernServer.h"
#include "tool/DriftRecord.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

using KovanTest::BenchRun;

namespace {

const std::string networkError = KovanTest::enterPrivateNetwork();

const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";
const std::string ISL = "QUILLO_SIM_CHIPS=isl1208";
const std::string S35 = "QUILLO_SIM_CHIPS=s35391a";
constexpr time_t TEN_DAYS = 864000;

// The bench's ISL1208 showing `chip` as local time in `tz` from the host's second `host` on, with
// `registers` from 0x07 on (by default: writes enabled, no power loss).
void holdIsl(const KovanTest::Bench& bench, time_t chip, time_t host, const char* tz = "UTC0",
    const std::string& registers = "10 00 00 00 00 00 00 00 00 00 00 00 00")
{
    KovanTest::ScopedTz zone(tz);
    tm t = {};
    localtime_r(&chip, &t);
    char fields[32];
    (void)strftime(fields, sizeof fields, "%m %d 0%w %H %M %S", &t);
    std::ofstream(bench.path("state"))
        << "isl1208.calendar " << std::to_string(100 + t.tm_year % 100).substr(1) << " " << fields
        << " @ " << host << "\nisl1208.registers " << registers << "\n";
}

void holdNow(const KovanTest::Bench& bench, const char* tz)
{
    const time_t now = time(nullptr);
    holdIsl(bench, now, now, tz);
}

double jsonNumber(const std::string& out, const std::string& key)
{
    std::smatch m;
    return std::regex_search(out, m, std::regex("\"" + key + "\":(-?[0-9.]+)")) ? std::stod(m[1])
                                                                                : NAN;
}

TEST(QuilloRtcTest, EveryCommandAndFailure)
{
    KovanTest::Bench bench;
    const std::string y = bench.path("yes"), no = bench.path("no"), fifo = bench.path("fifo");
    std::ofstream(y) << "y\n";
    std::ofstream(no) << "n\n";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    struct Row {
        std::string args;
        std::vector<std::string> settings;
        int status;
        std::string out, err; // regular expressions, matched whole and searched
        bool readOnly = false; // no write crosses the bus but an ISL1208 register pointer
        std::string input = "/dev/null";
    };
    const std::string usage
        = "\nUsage: quillo-rtc \\[--bus",
        noon = "2031-07-09T12:08:58\\+00:00\n",
        years = "^quillo-rtc: [-0-9T:+]+ is outside the chip's years 2000-2099; .*\n$",
        interrupted = "^quillo-rtc: interrupted; nothing written\n$",
        prompt = "^Write 0x12 to register 0x08 of the isl1208 on /dev/i2c-0\\? \\[y/N\\] ",
        unconfirmed = "quillo-rtc: not confirmed; nothing written .*\n$";
    const Row rows[] = {
        // Help and version need no bus; usage errors exit 2, the usage on standard error.
        { "--help", { "QUILLO_SIM_BUS=absent" }, 0, "Usage: quillo-rtc [^]*", "^$" },
        { "-V", { "QUILLO_SIM_BUS=absent" }, 0, "quillo-rtc 1\\.0\\.0\n", "^$" },
        { "", {}, 2, "", "^quillo-rtc: no command given" + usage },
        { "frob", {}, 2, "", "unknown command \"frob\"" + usage },
        { "read --clear", {}, 2, "", "--clear does not go with read" + usage },
        { "drift --server h --interval 0.5", {}, 2, "", "--interval is at least 1 second" },
        { "drift --server h --count 2 --duration 5", {}, 2, "", "not both" },
        { "drift --server h --duration x", {}, 2, "", "--duration is seconds" },
        { "set 2031-02-29T00:00:00", {}, 2, "", "is not a valid time" },
        // What fails says what to do, exit 1.
        { "read", { "QUILLO_SIM_BUS=absent" }, 1, "", "open /dev/i2c-0: No such file .* i2c-dev" },
        { "read", { "QUILLO_SIM_BUS=denied" }, 1, "", "Permission denied; run as root" },
        { "read", { "QUILLO_SIM_CHIPS=none" }, 1, "", "^quillo-rtc: no supported chip answers" },
        { "read --chip s35391a", { ISL }, 1, "", "no s35391a answers at 0x58-0x5f on" },
        { "read", {}, 1, "", "both an isl1208 \\(0x6f\\) and an s35391a .* --chip" },
        { "detect", {}, 0, "isl1208 at 0x6f on /dev/i2c-0\ns35391a at 0x58-0x5f on .*\n", "^$",
            true },
        // A fresh ISL1208: its power loss is reported, and left alone.
        { "read", { ISL, STOPPED }, 0, "2000-01-01T00:00:00\\+00:00\n", "a power loss", true },
        { "status --json", { ISL }, 0,
            R"([^]*"0x01","power_failure":true,"on_battery":false,"alarm":false,)"
            R"("write_enable":false,[^]*)",
            "^$", true },
        { "status --json", { S35, "QUILLO_SIM_S35391A_STATUS=0x02" }, 0,
            "[^]*\"alarm1\":false,\"alarm2\":false[^]*", "^$", true },
        // A command that fails says so in one line and leaves the chip as it found it.
        { "set 2100-01-01T00:00:00Z", { ISL }, 1, "", years, true },
        { "set 1900-01-01T00:00:00Z", { ISL }, 1, "", years, true },
        { "set 1970-01-01T00:00:00Z", { ISL }, 1, "", years, true },
        { "set 9999-12-31T23:59:59Z", { ISL }, 1, "", years, true },
        // Written at the next second, so it would be 2100.
        { "set 2099-12-31T23:59:59Z", { ISL }, 1, "", years, true },
        { "set --utc 2100-01-01T08:59:59+09:00", { S35 }, 1, "", years, true },
        // Ctrl-C while the command waits for the second to begin.
        { "set now", { S35, "QUILLO_SIM_INTERRUPT_AFTER_READS=2" }, 1, "", interrupted, true },
        { "set now", { ISL, "QUILLO_SIM_INTERRUPT_AFTER_READS=2" }, 1, "", interrupted, true },
        { "reg set 0x08 0x12", { ISL }, 1, "", prompt + "\n" + unconfirmed, true },
        { "reg set 0x08 0x12", { ISL }, 1, "", prompt + unconfirmed, true, no },
        { "reg set 2 1 -y", { S35 }, 1, "", "^quillo-rtc: register 2 of the s35391a holds 7 bytes",
            true },
        { "trim set --dtr -40", { ISL }, 1, "",
            "^Set the digital trim of the isl1208 on /dev/i2c-0 from \\+0 to -40 ppm\\? \\[y/N\\] "
            "\n" + unconfirmed,
            true },
        // The plot's file is checked before the run: a FIFO would hold its end.
        { "drift --server 127.0.0.1 --plot " + fifo, { ISL }, 1, "",
            "^quillo-rtc: the plot .* is not a regular file; .*\n$", true },
        { "drift --server 127.0.0.1 --plot " + bench.path("none/drift.svg"), { ISL }, 1, "",
            "^quillo-rtc: cannot write the plot .*: No such file or directory\n$", true },
        { "detect", { ISL, "QUILLO_SIM_BUSY=0x6f" }, 1, "",
            "^quillo-rtc: a kernel driver holds the isl1208 at 0x6f on /dev/i2c-0; .*\n$", true },
        { "status", { ISL, "QUILLO_SIM_BUSY=0x6f" }, 1, "",
            "^quillo-rtc: a kernel driver holds the isl1208 at 0x6f on /dev/i2c-0; .*\n$", true },
        // Untouched: the fresh ISL1208 still reports its power failure, writes disabled.
        { "reg get 7", { ISL }, 0, "0x01\n", "^$", true },
        // The write lands on the next second.
        { "set --utc 2031-07-09T21:08:57+09:00", { ISL, STOPPED }, 0, noon, "^$" },
        { "read --utc --json", { ISL, STOPPED }, 0, "[^]*\"epoch\":1941365338,[^]*", "^$", true },
        { "read --force --utc", { ISL, STOPPED, "QUILLO_SIM_BUSY=0x6f", "TZ=JST-9" }, 0, noon, "^$",
            true },
        { "status", { ISL }, 0, "[^]*: status 0x10\n[^]*write enable   yes\n[^]*", "^$", true },
        { "reg get 0x02", { ISL, STOPPED }, 0, "0x12\n", "^$", true },
        { "dump --json", { ISL, STOPPED }, 0,
            R"([^]*"seconds":\{"number":0,"bytes":\["0x58"\],"fields":\{"second":58\}[^]*)"
            R"("hour24":false,"hour":12\}[^]*"write_enable":true[^]*\}\}\n)",
            "^$", true },
        // i2c-tools (I2C_RDWR, SMBus) see the same registers.
        { "i2ctransfer -y 0 w1@0x6f 0x00 r7", { ISL, STOPPED }, 0,
            "0x58 0x08 0x12 0x09 0x07 0x31 0x03\n", "^$" },
        { "i2cget -y 0 0x6f 0x02 b", { ISL, STOPPED }, 0, "0x12\n", "^$" },
        { "reg get 0x14", { ISL }, 2, "", "\"0x14\" is not a register of the isl1208" },
        { "reg set 0x08 256 -y", { ISL }, 2, "", "\"256\" is not a byte" },
        { "reg set 0x08 0x12 --dry-run", { ISL }, 0, "would write to 0x6f: 08 12\n", "^$", true },
        { "reg set 0x08 0x12", { ISL }, 0, "0x12\n", "\\? \\[y/N\\] $", false, y },
        // The digital trim in steps of 20 ppm, bit 2 the sign.
        { "reg set 0x0b 6 -y", { ISL }, 0, "0x06\n", "^$" },
        { "trim", { ISL }, 0,
            "analog trim  0x00  load capacitance 12.50 pF\ndigital trim 0x06  -40 ppm\n", "^$",
            true },
        { "trim", { S35 }, 1, "", "^quillo-rtc: the s35391a's trimming is not supported" },
        { "trim set --dtr 30 -y", { ISL }, 2, "",
            "--dtr is -60 to \\+60 ppm in steps of 20, not 30" },
        { "trim --dtr 20", { ISL }, 2, "", "--dtr and -y go with 'trim set'" },
        { "hctosys --json", { ISL }, 2, "", "--json does not go with hctosys" },
        { "dump", { ISL, STOPPED }, 0,
            "isl1208 at 0x6f on /dev/i2c-0\n  0x00 seconds +58 +second 58\n[^]*\n  0x0b digital "
            "trim +06 +ppm -40\n[^]*\n  0x13 user 2 +00 +\\(raw\\)\n",
            "^$", true },
        { "status --clear --json", { ISL, "QUILLO_SIM_ISL1208_STATUS=0x17" }, 0,
            "\\{\"chip\":\"isl1208\",\"status\":\"0x10\",[^]*", "^$" },
        // The S35391A in 12-hour mode: the afternoon flag, bits reversed on the bus.
        { "set 2031-07-09T21:08:57Z", { S35, STOPPED, "QUILLO_SIM_S35391A_STATUS=0x00" }, 0,
            "2031-07-09T21:08:58\\+00:00\n", "^$" },
        { "reg get 2", { S35, STOPPED }, 0, "0x31 0x07 0x09 0x03 0x49 0x08 0x58\n", "^$", true },
        { "i2ctransfer -y 0 r7@0x5a", { S35, STOPPED }, 0, "0x8c 0xe0 0x90 0xc0 0x92 0x10 0x1a\n",
            "^$" },
        { "reg set 7 0x80 --dry-run", { S35 }, 0, "would write to 0x5f: 01\n", "^$", true },
        // Bits in the chip's own order (the bus carries them reversed), 12-hour mode decoded.
        { "dump", { S35, STOPPED }, 0,
            "[^]*\n  0x02 calendar +31 07 09 03 49 08 58 year 31, month 7, day 9, weekday 3, hour "
            "9, afternoon yes, minute 8, second 58\n[^]*\n  0x07 free register +00 +\\(raw\\)\n",
            "^$", true },
        // Only a reset clears the S35391A's power flags: the time is kept across it, and the
        // chip is put back in 24-hour mode.
        { "status --clear", { S35, STOPPED, "QUILLO_SIM_S35391A_STATUS=0xc0" }, 0,
            "s35391a at 0x58-0x5f on /dev/i2c-0: status 0x02\n  power failure  no\n  battery low  "
            "  no\n[^]*  24-hour        yes\n",
            "^$" },
        { "read", { S35, STOPPED }, 0, "2031-07-09T21:08:58\\+00:00\n", "^$", true },
    };
    const std::regex pointerOnly("write 0x6f 1: [0-9a-f]{2}");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args + " " + testing::PrintToString(row.settings));
        const size_t tool = 0 == row.args.rfind("i2c", 0) ? row.args.find(' ') : 0;
        if (tool && !std::string(KOVAN_EMULATOR).empty())
            continue; // the build machine's i2c-tools would not run the target's code
        const BenchRun r = bench.run(tool ? row.args.substr(0, tool) : QUILLO_RTC_BINARY,
            row.args.substr(tool), row.settings, row.input);
        EXPECT_EQ(row.status, r.status) << r.err;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(row.out))) << r.out;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(row.err))) << r.err;
        for (const std::string& line : bench.takeLog())
            EXPECT_FALSE(
                row.readOnly && 0 == line.rfind("write", 0) && !std::regex_match(line, pointerOnly))
                << line;
    }
    EXPECT_FALSE(std::filesystem::exists(bench.path("none")));
    // A word too many is a usage error that names the command.
    for (const char* extra : { "detect x", "read x", "set now x", "status x", "dump x",
             "reg set 7 8 9", "drift x", "hctosys x", "systohc x", "trim set x" }) {
        const BenchRun r = bench.run(QUILLO_RTC_BINARY, extra, {});
        EXPECT_EQ(2, r.status) << extra;
        EXPECT_NE(std::string::npos, r.err.find(std::string(extra, strcspn(extra, " ")))) << r.err;
    }
}

std::string summaryOf(const std::string& out)
{
    return out.substr(std::min(out.size(), out.find("{\"summary\"")));
}

// quillo-rtc takes only what a real server sends: a reference time, a clock that claims to be
// synchronised (this machine's may not be), time stamps to the nanosecond.
Kovan::SntpModernServer::Options serverOptions()
{
    Kovan::SntpModernServer::Options options;
    options.address = "127.0.0.1";
    options.workers = 1;
    options.rateLimit = 0;
    options.localReference = true;
    return options;
}

TEST(QuilloRtcTest, DriftOffsetRateAndZonesAgainstTheServer)
{
    ASSERT_EQ("", networkError);
    Kovan::SntpModernServer server(serverOptions());
    ASSERT_TRUE(server.start()) << server.error();
    KovanTest::Bench bench;
    const struct {
        const char *tz, *key, *settings, *args;
        double expected, tolerance;
    } rows[] = {
        // The chip's edges 250 ms after the host's seconds: 250 ms behind.
        { "UTC0", "offset_ms", "QUILLO_SIM_EDGE_MS=250", "--count 1", -250, 2 },
        // 1% fast: +10,000 ppm, from 3 s of samples.
        { "UTC0", "rate_ppm", "QUILLO_SIM_DRIFT_PPM=10000", "--duration 3", 10000, 500 },
        // A chip on local time, in summer time (one of the two zones) or not: no phantom hour.
        { "Australia/Sydney", "offset_ms", "QUILLO_SIM_EDGE_MS=0", "--count 1", 0, 3 },
        { "America/New_York", "offset_ms", "QUILLO_SIM_EDGE_MS=0", "--count 1", 0, 3 },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.tz);
        holdNow(bench, row.tz);
        const BenchRun r = bench.run(QUILLO_RTC_BINARY,
            std::string("drift --server 127.0.0.1 --interval 1 --json ") + row.args,
            { ISL, std::string("TZ=") + row.tz, "QUILLO_SIM_EDGE_MS=0", row.settings,
                "QUILLO_SIM_LOG=" },
            "/dev/null", 60);
        EXPECT_EQ(0, r.status) << r.err;
        // Half the server's round trip bounds what the exchange itself may be off.
        EXPECT_NEAR(row.expected, jsonNumber(summaryOf(r.out), row.key),
            row.tolerance + jsonNumber(r.out, "delay_ms") / 2)
            << r.out;
        // Reads 0.2 ms apart bound the edge to a fraction of a millisecond, never to nothing; one
        // sample has no rate.
        EXPECT_GT(jsonNumber(r.out, "edge_ms"), 0.001) << r.out;
        EXPECT_TRUE(std::string("--count 1") != row.args
            || std::regex_search(summaryOf(r.out),
                std::regex(R"("rate_ppm":null,"rate_uncertainty_ppm":null,"samples":1,)")))
            << r.out;
    }

    // With no limit, or a limit of 0, the run goes on until Ctrl-C (here the bench's, after 150
    // reads of the chip), which ends it with its summary; three samples give a rate and its error.
    const char* const limits[][3]
        = { { "", "150", "rate .*, [1-9][0-9]*" }, { "--count 0", "150", "rate .*, [1-9][0-9]*" },
              { "--duration 0", "150", "rate .*, [1-9][0-9]*" },
              { "--count 3", "-1", "rate [-+][0-9.]+ \\+/- [0-9.]+ ppm, 3" } };
    BenchRun r;
    for (const auto& [limit, reads, summary] : limits) {
        holdNow(bench, "UTC0");
        r = bench.run(QUILLO_RTC_BINARY,
            std::string("drift --server 127.0.0.1 --interval 1 ") + limit,
            { ISL, std::string("QUILLO_SIM_INTERRUPT_AFTER_READS=") + reads, "QUILLO_SIM_LOG=" },
            "/dev/null", 60);
        EXPECT_EQ(0, r.status) << limit << r.err;
        EXPECT_TRUE(std::regex_search(r.out,
            std::regex(std::string("\nsummary: offset [-+][0-9.]+ ms, ") + summary + " samples ")))
            << limit << r.out;
    }
    r = bench.run(QUILLO_RTC_BINARY, "drift --server 192.0.2.1 --count 1", { ISL });
    EXPECT_EQ(1, r.status);
    // One line: the library's own traces stay out of the tool's errors.
    EXPECT_TRUE(std::regex_match(r.err, std::regex("[^\n]*no answer from the time server[^\n]*\n")))
        << r.err;
}

// Closed loop: the drift measured, the digital trimming it proposes written, the drift gone.
TEST(QuilloRtcTest, TheProposedTrimCancelsTheMeasuredDrift)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__arm__)
    // An instrumented or emulated build's time stamps wander by more than the ppm this resolves.
    GTEST_SKIP() << "needs a native build without sanitizers";
#endif
    ASSERT_EQ("", networkError);
    Kovan::SntpModernServer server(serverOptions());
    ASSERT_TRUE(server.start()) << server.error();
    KovanTest::Bench bench;
    holdNow(bench, "UTC0");
    // 40 ppm fast, halfway between the steps' boundaries at 30 and 50: half a minute of samples,
    // each edge good to about a tenth of a millisecond, gives the rate to a few ppm, well inside
    // the 10 ppm either way that would make the proposal the -20 or the -60 step.
    const std::vector<std::string> fast
        = { ISL, "QUILLO_SIM_EDGE_MS=0", "QUILLO_SIM_DRIFT_PPM=40", "QUILLO_SIM_LOG=" };
    const std::string record = " --drift-file " + bench.path("drift");
    BenchRun r = bench.run(QUILLO_RTC_BINARY,
        "drift --server 127.0.0.1 --interval 1 --duration 30 --json --save --plot "
            + bench.path("plot.svg") + record,
        fast, "/dev/null", 120);
    EXPECT_EQ(0, r.status) << r.err;
    const double measured = jsonNumber(summaryOf(r.out), "rate_ppm");
    EXPECT_NEAR(40, measured, 5) << r.out;
    EXPECT_EQ(-40, jsonNumber(summaryOf(r.out), "proposed_dtr_ppm")) << r.out;
    EXPECT_EQ(0u, KovanTest::readFile(bench.path("plot.svg")).rfind("<svg", 0));

    // The record's rate follows the trimming.
    r = bench.run(QUILLO_RTC_BINARY, "trim set --dtr -40 -y" + record, fast);
    EXPECT_EQ("digital trim 0x06  -40 ppm (was +0 ppm)\n", r.out) << r.err;
    std::smatch m;
    const std::string saved = KovanTest::readFile(bench.path("drift"));
    ASSERT_TRUE(std::regex_search(saved, m, std::regex("\nrate ([-+0-9.]+)\n"))) << saved;
    EXPECT_NEAR(measured - 40, std::stod(m[1]), 0.01) << saved;

    // The chip as trimmed, set ten days ago (the bench ages it), measured over those ten days
    // rather than over another half minute: trimmed to 0 ppm it is as it was set, where 10 ppm
    // fast would be 8.64 s ahead and the untrimmed chip 34.6 s.
    const std::string state = KovanTest::readFile(bench.path("state"));
    ASSERT_TRUE(std::regex_search(state, m, std::regex("isl1208.registers ([0-9a-f ]+)\n")));
    const time_t now = time(nullptr);
    holdIsl(bench, now - TEN_DAYS, now - TEN_DAYS, "UTC0", m[1]);
    r = bench.run(QUILLO_RTC_BINARY, "read --utc --json", fast);
    // (Plus the whole seconds the read took to come, on a loaded machine.)
    const double ahead = jsonNumber(r.out, "epoch") - static_cast<double>(now);
    EXPECT_TRUE(ahead >= -1 && ahead <= 1 + difftime(time(nullptr), now)) << r.out;
}

// hctosys and systohc run in the build linked with the clock seam, which records the clock they
// would set and fixes what the kernel says of it.
TEST(QuilloRtcBoardTest, HctosysStepsToTheChipAtItsEdgeCorrectedByTheRecord)
{
    KovanTest::Bench bench;
    const time_t host = time(nullptr);
    const std::string clockLog = bench.path("clock"), record = bench.path("drift");
    std::ofstream(record) << Kovan::formatDriftRecord({ "isl1208", Kovan::DriftRecord::UTC, true,
        host - TEN_DAYS, Kovan::DriftRecord::DRIFT, 50 });
    // The program reads "now" as this instant when it steps the clock, so the time it sets less
    // this is exactly the offset it measured.
    const double now = 1900000000;
    const std::vector<std::string> seam
        = { ISL, "KOVAN_CLOCK_SEAM_LOG=" + clockLog, "KOVAN_CLOCK_SEAM_NOW=1900000000.000000" };
    struct Row {
        const char* what;
        time_t chip, setAt;
        std::vector<std::string> settings;
        const char* recordPath;
        double step, tolerance;
    };
    const Row rows[] = {
        // 5 h ahead, its seconds 250 ms after the host's: the chip's time at its edge.
        { "edge", host + 18000, host, { "QUILLO_SIM_EDGE_MS=250" }, "none", 18000 - 0.25, 0.002 },
        // Set right 10 days ago and +50 ppm since: 43.2 s ahead, which the record takes back.
        { "uncorrected", host - TEN_DAYS, host - TEN_DAYS,
            { "QUILLO_SIM_EDGE_MS=0", "QUILLO_SIM_DRIFT_PPM=50" }, "none", 43.2, 0.005 },
        { "corrected", host - TEN_DAYS, host - TEN_DAYS,
            { "QUILLO_SIM_EDGE_MS=0", "QUILLO_SIM_DRIFT_PPM=50" }, "drift", 0, 0.005 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        holdIsl(bench, row.chip, row.setAt);
        std::vector<std::string> settings = seam;
        settings.insert(settings.end(), row.settings.begin(), row.settings.end());
        const BenchRun run = bench.run(QUILLO_RTC_SEAMED,
            std::string("--utc --drift-file ") + bench.path(row.recordPath) + " hctosys", settings);
        EXPECT_EQ(0, run.status) << run.err;
        std::smatch m;
        const std::string calls = KovanTest::readFile(clockLog);
        ASSERT_TRUE(std::regex_match(calls, m, std::regex("settimeofday ([0-9]+) ([0-9]+)\n")))
            << calls;
        EXPECT_NEAR(row.step, std::stod(m[1]) + std::stod(m[2]) * 1e-6 - now, row.tolerance)
            << run.out;
        std::filesystem::remove(clockLog);
    }

    // The same correction on a plain reading (the state of the last row).
    const BenchRun read
        = bench.run(QUILLO_RTC_BINARY, "--utc --drift-file " + record + " read --adjust",
            { ISL, "QUILLO_SIM_EDGE_MS=0", "QUILLO_SIM_DRIFT_PPM=50" });
    EXPECT_TRUE(std::regex_match(
        read.out, std::regex("[-0-9T:+]+\n[-0-9T:+]+ adjusted by -43\\.2[0-9]{2} s\n")))
        << read.out << read.err;

    // Refused with one line, the clock untouched: a power loss, a time that is none (month 13).
    std::ofstream(bench.path("state")) << "isl1208.calendar 31 13 09 03 21 08 57 @ 0\n";
    const std::pair<const char*, const char*> refusals[] = {
        { "01", "the chip reports a power loss, .*--ignore-power-loss" },
        { "10", "the chip holds no valid time; set it first" },
    };
    for (const auto& [status, err] : refusals) {
        std::vector<std::string> settings = seam;
        settings.push_back(std::string("QUILLO_SIM_ISL1208_STATUS=0x") + status);
        const BenchRun run = bench.run(QUILLO_RTC_SEAMED, "hctosys", settings);
        EXPECT_EQ(1, run.status);
        EXPECT_TRUE(
            std::regex_match(run.err, std::regex(std::string("quillo-rtc: ") + err + ".*\n")))
            << run.err;
        EXPECT_FALSE(std::filesystem::exists(clockLog));
    }
}

TEST(QuilloRtcBoardTest, SystohcWritesASynchronisedClockAndLearnsTheRate)
{
    KovanTest::Bench bench;
    const std::string record = bench.path("drift");
    const std::string systohc = "--utc --drift-file " + record + " systohc";
    const std::vector<std::string> fast = { ISL, "KOVAN_CLOCK_SEAM_SYNCHRONISED=1",
        "QUILLO_SIM_EDGE_MS=0", "QUILLO_SIM_DRIFT_PPM=50" };

    BenchRun r = bench.run(QUILLO_RTC_SEAMED, systohc, { ISL, "KOVAN_CLOCK_SEAM_SYNCHRONISED=0" });
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(std::regex_match(r.err,
        std::regex("quillo-rtc: the kernel does not hold the system clock synchronised;.*\n")))
        << r.err;
    for (const std::string& line : bench.takeLog())
        EXPECT_NE(0u, line.rfind("write", 0)) << line;
    EXPECT_FALSE(std::filesystem::exists(record));

    // A fresh chip, which lost power: the time goes in and the flag goes (the S35391A's power
    // flags only with a reset, just before the write).
    std::smatch m;
    for (const std::string& chip : { ISL, S35 }) {
        r = bench.run(QUILLO_RTC_SEAMED, systohc,
            { chip, "KOVAN_CLOCK_SEAM_SYNCHRONISED=1", "QUILLO_SIM_S35391A_STATUS=0xc0" });
        EXPECT_EQ(0, r.status) << r.err;
        r = bench.run(QUILLO_RTC_BINARY, "read --utc --json", { chip });
        ASSERT_TRUE(
            std::regex_search(r.out, m, std::regex("\"epoch\":([0-9]+),.*\"power_lost\":false")))
            << r.out;
        EXPECT_NEAR(static_cast<double>(time(nullptr)), std::stod(m[1]), 1.0);
    }

    // +50 ppm: set right 10 days ago, 43.2 s ahead now. The first run has no last set to learn
    // from; ten days after it (the chip and the record aged alike) the second learns the rate.
    std::filesystem::remove(record);
    const time_t tenDaysAgo = time(nullptr) - TEN_DAYS;
    holdIsl(bench, tenDaysAgo, tenDaysAgo);
    r = bench.run(QUILLO_RTC_SEAMED, systohc, fast);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^the chip was \\+43\\.2"))) << r.out;
    Kovan::DriftRecord learned;
    std::string problem;
    ASSERT_EQ(Kovan::DriftLoad::LOADED, Kovan::loadDriftRecord(record.c_str(), &learned, &problem))
        << problem;
    // A second off half an hour after a set: written, but too short a span to learn a rate from.
    learned.lastSet -= 1800;
    std::ofstream(record) << Kovan::formatDriftRecord(learned);
    holdIsl(bench, static_cast<time_t>(learned.lastSet) + 1, static_cast<time_t>(learned.lastSet));
    r = bench.run(QUILLO_RTC_SEAMED, systohc, fast);
    EXPECT_TRUE(std::regex_search(r.out, std::regex(" after 30\\.[0-9] min: too short"))) << r.out;
    ASSERT_EQ(Kovan::DriftLoad::LOADED, Kovan::loadDriftRecord(record.c_str(), &learned, &problem))
        << problem;
    learned.lastSet -= TEN_DAYS;
    std::ofstream(record) << Kovan::formatDriftRecord(learned);
    holdIsl(bench, static_cast<time_t>(learned.lastSet), static_cast<time_t>(learned.lastSet));
    r = bench.run(QUILLO_RTC_SEAMED, systohc, fast);
    EXPECT_EQ(0, r.status) << r.err;
    ASSERT_EQ(Kovan::DriftLoad::LOADED, Kovan::loadDriftRecord(record.c_str(), &learned, &problem))
        << problem;
    EXPECT_TRUE(std::regex_search(r.out, std::regex(": rate \\+[0-9.]+ ppm \\+/- [0-9.]+\n")))
        << r.out;
    EXPECT_EQ(Kovan::DriftRecord::SYSTOHC, learned.source);
    EXPECT_NEAR(50, learned.ratePpm, 5) << r.out;
}

} // namespace
