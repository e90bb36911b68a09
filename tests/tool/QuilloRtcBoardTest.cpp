// quillo-rtc keeping the board's time on the simulated bench: hctosys and systohc run in the
// build linked with the clock seam, which records the clock they would set and fixes what the
// kernel says of it.
#include "support/BenchRunner.h"

#include "tool/DriftRecord.h"

#include <cmath>
#include <gtest/gtest.h>

using KovanTest::BenchRun;

namespace {

const std::string ISL = "QUILLO_SIM_CHIPS=isl1208";
constexpr time_t TEN_DAYS = 864000;

// The bench's ISL1208 showing `chip` (UTC) from the host's second `host` on, writes enabled, no
// power loss.
void holdIsl(const KovanTest::Bench& bench, time_t chip, time_t host)
{
    tm t = {};
    gmtime_r(&chip, &t);
    char fields[32];
    (void)strftime(fields, sizeof fields, "%m %d 0%w %H %M %S", &t);
    std::ofstream(bench.path("state"))
        << "isl1208.calendar " << std::to_string(100 + t.tm_year % 100).substr(1) << " " << fields
        << " @ " << host << "\nisl1208.registers 10 00 00 00 00 00 00 00 00 00 00 00 00\n";
}

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
    const std::vector<std::string> synchronised
        = { ISL, "KOVAN_CLOCK_SEAM_SYNCHRONISED=1", "QUILLO_SIM_EDGE_MS=0" };

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
    for (const std::string& chip : { ISL, std::string("QUILLO_SIM_CHIPS=s35391a") }) {
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
    std::vector<std::string> fast = synchronised;
    fast.push_back("QUILLO_SIM_DRIFT_PPM=50");
    r = bench.run(QUILLO_RTC_SEAMED, systohc, fast);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^the chip was \\+43\\.2"))) << r.out;
    Kovan::DriftRecord learned;
    std::string problem;
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
