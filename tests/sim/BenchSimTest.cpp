// The bench simulator itself, driven at the bus level by a probe program: which C library entries
// it takes over, and how its chips answer transfers.
#include "BenchRunner.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using KovanTest::Bench;
using KovanTest::BenchRun;

namespace {

const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";

BenchRun probe(const Bench& bench, std::vector<std::string> args,
    const std::vector<std::string>& settings = {})
{
    args.insert(args.begin(), SIM_PROBE);
    return bench.run(args, settings);
}

TEST(BenchSimTest, EveryEntryThatOpensOrReadsTheBusIsTakenOver)
{
    Bench bench;
    const BenchRun r = probe(bench, { "entries" }, { "QUILLO_SIM_S35391A_STATUS=0x80" });
    EXPECT_EQ("open: 01\nopen64: 01\nopenat: 01\nopenat64: 01\n__open_2: 01\n__open64_2: 01\n"
              "__openat_2: 01\n__openat64_2: 01\ncloexec: 1\n",
        r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    const std::vector<std::string> log = bench.takeLog();
    ASSERT_EQ(8u * 4 + 2, log.size());
    EXPECT_EQ((std::vector<std::string> {
                  "open /dev/i2c-0", "slave 0x58", "read 0x58 1: 01", "close /dev/i2c-0" }),
        std::vector<std::string>(log.begin(), log.begin() + 4));
}

TEST(BenchSimTest, Isl1208RegisterPointerStatusAndWriteProtection)
{
    Bench bench;
    // Fresh chip: power failure reported, calendar writes refused until WRTC is set.
    BenchRun r = probe(
        bench, { "s6f", "w07", "r1", "w0059", "w00", "r1", "w0710", "w07", "r1" }, { STOPPED });
    EXPECT_EQ("r1: 01\nr1: 00\nr1: 10\n", r.out);

    // The pointer advances through the calendar, the status and past the last register.
    r = probe(
        bench, { "s6f", "w0057082109073103", "w00", "r8", "w12ab", "w11", "r4" }, { STOPPED });
    EXPECT_EQ("r8: 57 08 21 09 07 31 03 10\nr4: 00 ab 00 00\n", r.out);

    // Flags clear where 0 is written to them; the control bits take the written value.
    r = probe(bench, { "s6f", "w0753", "w07", "r1" }, { "QUILLO_SIM_ISL1208_STATUS=0x07" });
    EXPECT_EQ("r1: 53\n", r.out);
}

TEST(BenchSimTest, S35391ACommandsByAddress)
{
    Bench bench;
    const std::string ready = "QUILLO_SIM_S35391A_STATUS=0x02";
    // Calendar in, time register and idle bus bytes out; a short calendar write changes nothing.
    BenchRun r
        = probe(bench, { "s5a", "w8ce090c08610ea", "w8c", "r7", "s5b", "r4" }, { ready, STOPPED });
    EXPECT_EQ("r7: 8c e0 90 c0 86 10 ea\nr4: 86 10 ea ff\n", r.out);

    // In 12-hour mode the same 21:08 reads as 9 with the afternoon flag.
    r = probe(bench, { "s58", "w00", "s5b", "r1" }, { ready, STOPPED });
    EXPECT_EQ("r1: 92\n", r.out);

    // Reset: calendar back to 2000-01-01 00:00:00, every status bit cleared.
    r = probe(
        bench, { "s58", "w80", "r1", "s5a", "r7" }, { "QUILLO_SIM_S35391A_STATUS=0xc2", STOPPED });
    EXPECT_EQ("r1: 00\nr7: 00 80 80 00 00 00 00\n", r.out);
}

TEST(BenchSimTest, ChipsOnTheBusAreChosenAndAbsentOnesDoNotAnswer)
{
    Bench bench;
    BenchRun r = probe(bench, { "s58", "r1", "s6f", "w00", "r1" }, { "QUILLO_SIM_CHIPS=isl1208" });
    EXPECT_EQ("r1: ENXIO\nr1: 00\n", r.out);
    r = probe(bench, { "s6f", "w00", "s80" }, { "QUILLO_SIM_CHIPS=none" });
    EXPECT_EQ("w00: ENXIO\ns80: EINVAL\n", r.out);
    r = probe(bench, { "s6f" }, { "QUILLO_SIM_CHIPS=isl1208,rtc9" });
    EXPECT_EQ("quillo-sim: QUILLO_SIM_CHIPS: no chip called \"rtc9\"\n", r.err);
}

TEST(BenchSimTest, BadStateAndSettingsAreReportedAndReplacedByAFreshChip)
{
    Bench bench;
    KovanTest::writeFile(bench.path("state"),
        "isl1208.calendar 99 99 zz\nisl1208.registers 10\ngarbage\ns35391a.status 02 00\n");
    BenchRun r = probe(bench, { "s6f", "w07", "r1", "s58", "r1" }, { "QUILLO_SIM_DRIFT_PPM=fast" });
    EXPECT_EQ("r1: 01\nr1: 40\n", r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.err.find("bad isl1208.calendar \"99 99 zz\"")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("bad isl1208.registers \"10\"")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("state:3: no value; line ignored")) << r.err;
    EXPECT_NE(std::string::npos,
        r.err.find("quillo-sim: QUILLO_SIM_DRIFT_PPM=\"fast\" is not a number; using 0\n"))
        << r.err;

    // The next write saves a whole, clean state and leaves nothing beside it.
    r = probe(bench, { "s6f", "w0710" });
    EXPECT_EQ("", r.err);
    const std::string state = KovanTest::readFile(bench.path("state"));
    EXPECT_NE(std::string::npos,
        state.find("\nisl1208.registers 10 00 00 00 00 00 00 00 00 00 00 00 00\n"))
        << state;
    const auto entries = std::distance(
        std::filesystem::directory_iterator(bench.path("")), std::filesystem::directory_iterator());
    EXPECT_EQ(4, entries); // the state, the log and the run's output
}

} // namespace
