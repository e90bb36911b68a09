// The bench simulator driven at the bus level by a probe program: which C library entries it
// takes over, and how its chips answer transfers.
#include "BenchRunner.h"

#include <gtest/gtest.h>

using KovanTest::BenchRun;
using Settings = std::vector<std::string>;

namespace {

const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";

class BenchSimTest : public ::testing::Test {
protected:
    BenchRun probe(const std::string& args, const Settings& settings = {})
    {
        return bench.run(SIM_PROBE, args, settings);
    }

    KovanTest::Bench bench;
};

TEST_F(BenchSimTest, EveryEntryThatOpensOrReadsTheBusIsTakenOver)
{
    const BenchRun r = probe("entries", { "QUILLO_SIM_S35391A_STATUS=0x80" });
    EXPECT_EQ("open: 01\nopen64: 01\nopenat: 01\nopenat64: 01\n__open_2: 01\n__open64_2: 01\n"
              "__openat_2: 01\n__openat64_2: 01\ncloexec: 1\n",
        r.out);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    std::vector<std::string> expected;
    for (int i = 0; i < 8; ++i)
        expected.insert(expected.end(),
            { "open /dev/i2c-0", "slave 0x58", "read 0x58 1: 01", "close /dev/i2c-0" });
    expected.insert(expected.end(), { "open /dev/i2c-0", "close /dev/i2c-0" });
    EXPECT_EQ(expected, bench.takeLog());
}

// Each row a fresh bench: the probe's session, its settings, what it printed.
TEST_F(BenchSimTest, ChipsAnswerTransfersAsTheHardwareDoes)
{
    const std::string ready = "QUILLO_SIM_S35391A_STATUS=0x02";
    const std::tuple<std::string, Settings, std::string> rows[] = {
        // ISL1208, fresh: power failure reported, calendar writes refused until WRTC is set.
        { "s6f w07 r1 w0059 w00 r1 w0710 w07 r1", { STOPPED }, "r1: 01\nr1: 00\nr1: 10\n" },
        // The pointer advances through the calendar, the status and past the last register.
        { "s6f w0710 w0057082109073103 w00 r8 w12ab w11 r4", { STOPPED },
            "r8: 57 08 21 09 07 31 03 10\nr4: 00 ab 00 00\n" },
        // Flags clear where 0 is written to them; the control bits take the written value.
        { "s6f w0753 w07 r1", { "QUILLO_SIM_ISL1208_STATUS=0x07" }, "r1: 53\n" },
        // S35391A: calendar in, time register and idle bus bytes out; a short calendar write
        // changes nothing. In 12-hour mode 21:08 reads as 9 with the afternoon flag.
        { "s5a w8ce090c08610ea w8c r7 s5b r4", { ready, STOPPED },
            "r7: 8c e0 90 c0 86 10 ea\nr4: 86 10 ea ff\n" },
        { "s5a w8ce090c08610ea s58 w00 s5b r1", { ready, STOPPED }, "r1: 92\n" },
        // Only the chips named are on the bus; an address past 0x7f is refused.
        { "s58 r1 s6f w00 r1", { "QUILLO_SIM_CHIPS=isl1208" }, "r1: ENXIO\nr1: 00\n" },
        { "s6f w00 s80", { "QUILLO_SIM_CHIPS=none" }, "w00: ENXIO\ns80: EINVAL\n" },
        { "s6f", { "QUILLO_SIM_BUSY=0x58,0x6f" }, "s6f: EBUSY\n" },
    };
    for (const auto& [args, settings, out] : rows) {
        KovanTest::Bench fresh;
        EXPECT_EQ(out, fresh.run(SIM_PROBE, args, settings).out) << args;
    }
}

TEST_F(BenchSimTest, TheCalendarKeepsCountingBetweenRunsAtItsOwnRate)
{
    // Set to 2031-07-09 23:59:58 ten days ago; 100 ppm fast adds 86.4 s (and a loaded machine a
    // few seconds of its own), and the weekday counter advances eleven days.
    std::ofstream(bench.path("state"))
        << "isl1208.calendar 31 07 09 03 23 59 58 @ " << time(nullptr) - 864000 << "\n";
    std::string out = probe("s6f w00 r7", { "QUILLO_SIM_DRIFT_PPM=100" }).out;
    EXPECT_TRUE(std::regex_match(out, std::regex("r7: 2[4-9] 01 00 20 07 31 00\n"))) << out;
    // A rate of 10^300 ppm from 1900: still a calendar, with no undefined arithmetic (asan).
    std::ofstream(bench.path("state")) << "isl1208.calendar 31 07 09 03 23 59 58 @ -2208988800\n";
    out = probe("s6f w00 r7", { "QUILLO_SIM_DRIFT_PPM=1e300" }).out;
    EXPECT_TRUE(std::regex_match(
        out, std::regex("r7: ([0-5][0-9] ){3}[0-3][0-9] [01][0-9] [0-9][0-9] 0[0-6]\n")))
        << out;
}

TEST_F(BenchSimTest, BadStateAndSettingsAreReportedAndReplacedByAFreshChip)
{
    EXPECT_EQ("quillo-sim: QUILLO_SIM_STATE=/dev/null is not a regular file; the chips keep no "
              "state\n",
        probe("s6f w0710", { "QUILLO_SIM_STATE=/dev/null" }).err);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_EQ("quillo-sim: QUILLO_SIM_CHIPS: no chip called \"rtc9\"\n",
        probe("s6f", { "QUILLO_SIM_CHIPS=isl1208,rtc9" }).err);

    std::ofstream(bench.path("state"))
        << "isl1208.calendar 99 99 zz\nisl1208.registers 10\ngarbage\ns35391a.status 02 00\n";
    BenchRun r = probe("s6f w07 r1 s58 r1", { "QUILLO_SIM_DRIFT_PPM=fast" });
    EXPECT_EQ("r1: 01\nr1: 40\n", r.out);
    EXPECT_EQ(0, r.status);
    for (const char* warning : { "bad isl1208.calendar \"99 99 zz\"\n",
             "bad isl1208.registers \"10\"\n", "state:3: no value; line ignored\n",
             "quillo-sim: QUILLO_SIM_DRIFT_PPM=\"fast\" is not a number; using 0\n" })
        EXPECT_NE(std::string::npos, r.err.find(warning)) << r.err;
    // The next write saves a whole, clean state and leaves nothing beside it (but the run's log
    // and output).
    r = probe("s6f w0710");
    EXPECT_EQ("", r.err);
    EXPECT_NE(std::string::npos,
        KovanTest::readFile(bench.path("state"))
            .find("\nisl1208.registers 10 00 00 00 00 00 00 00 00 00 00 00 00\n"));
    EXPECT_EQ(4,
        std::distance(std::filesystem::directory_iterator(bench.path("")),
            std::filesystem::directory_iterator()));
}

} // namespace
