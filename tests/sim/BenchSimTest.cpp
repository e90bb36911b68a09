// The bench simulator driven at the bus level by a probe program.
#include "support/BenchRunner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";

// Each row a fresh bench: its state, the probe's words and settings, and regular expressions for
// what the probe printed (matched whole) and what the simulator warned (searched).
TEST(BenchSimTest, ChipsAnswerTransfersAsTheHardwareDoes)
{
    KovanTest::Bench bench;
    const std::string fifo = bench.path("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const std::string ready = "QUILLO_SIM_S35391A_STATUS=0x02",
                      july = "isl1208.calendar 31 07 09 03 23 59 58 @ ",
                      tenDaysAgo = july + std::to_string(time(nullptr) - 864000),
                      trim = tenDaysAgo + "\nisl1208.registers 10 00 00 00 ",
                      rest = " 00 00 00 00 00 00 00 00\n";
    struct Row {
        std::string state, args;
        std::vector<std::string> settings;
        std::string out, err = "^$";
    };
    const Row rows[] = {
        // Every C library entry that opens or reads the bus is taken over.
        { "", "entries", { "QUILLO_SIM_S35391A_STATUS=0x80" },
            "open: 01\nopen64: 01\nopenat: 01\nopenat64: 01\n__open_2: 01\n__open64_2: 01\n"
            "__openat_2: 01\n__openat64_2: 01\ncloexec: 1\n" },
        // ISL1208, fresh: power failure set, calendar writes refused until WRTC is set; the
        // pointer advances through the calendar, the status and past the last register.
        { "", "s6f w07 r1 w0059 w00 r1 w0710 w07 r1 w0057082109073103 w00 r8 w12ab w11 r4",
            { STOPPED }, "r1: 01\nr1: 00\nr1: 10\nr8: 57 08 21 09 07 31 03 10\nr4: 00 ab 00 00\n" },
        // S35391A: calendar in, time and idle bytes out; a short write changes nothing; 12-hour.
        { "", "s5a w8ce090c08610ea w8c r7 s5b r4 s58 w00 s5b r1", { ready, STOPPED },
            "r7: 8c e0 90 c0 86 10 ea\nr4: 86 10 ea ff\nr1: 92\n" },
        // Only the chips named are on the bus; an address past 0x7f is refused.
        { "", "s58 r1 s6f w00 r1", { "QUILLO_SIM_CHIPS=isl1208" }, "r1: ENXIO\nr1: 00\n" },
        { "", "s6f w00 s80", { "QUILLO_SIM_CHIPS=none" }, "w00: ENXIO\ns80: EINVAL\n" },
        // The ISL1208's digital trimming (register 0x0B) adds to the drift; bits 3-7 do not count.
        { trim + "03" + rest, "s6f w00 r7", {}, "r7: (49|5[0-4]) 00 00 20 07 31 00\n" }, // +51.84 s
        { trim + "07" + rest, "s6f w00 r7", { "QUILLO_SIM_DRIFT_PPM=100" },
            "r7: 3[2-7] 00 00 20 07 31 00\n" }, // +100 - 60 ppm: 34.56 s
        { trim + "fd" + rest, "s6f w00 r7", {}, "r7: 4[0-5] 59 23 19 07 31 06\n" }, // -17.28 s
        // Set ten days ago, 100 ppm fast: 86.4 s more (and a loaded machine's few), eleven days;
        // a change of the trimming counts from the write on, so they stay.
        { tenDaysAgo, "s6f w0b07 w00 r7", { "QUILLO_SIM_DRIFT_PPM=100" },
            "r7: 2[4-9] 01 00 20 07 31 00\n" },
        // 10^300 ppm from 1900: still a calendar, with no undefined arithmetic (asan).
        { july + "-2208988800", "s6f w00 r7", { "QUILLO_SIM_DRIFT_PPM=1e300" },
            "r7: ([0-5][0-9] ){3}[0-3][0-9] [01][0-9] [0-9][0-9] 0[0-6]\n" },
        // A log or state that is no regular file is refused with one line, and the run goes on;
        // bad state and settings are reported, and a fresh chip used.
        { "", "s6f w00 r1 w00 r1", { "QUILLO_SIM_STATE=" + fifo }, "r1: 00\nr1: 00\n",
            "^quillo-sim: [^\n]* is not a regular file; the chips keep no state\n$" },
        { "", "s6f w00 r1 w00 r1", { "QUILLO_SIM_LOG=" + fifo }, "r1: 00\nr1: 00\n",
            "^quillo-sim: [^\n]* is not a regular file[^\n]*\n$" },
        { "", "s6f", { "QUILLO_SIM_CHIPS=isl1208,rtc9" }, "", "no chip called \"rtc9\"\n" },
        { "isl1208.calendar 99 99 zz\nisl1208.registers 10\ngarbage\ns35391a.status 02 00\n",
            "s6f w07 r1 s58 r1", { "QUILLO_SIM_DRIFT_PPM=fast" }, "r1: 01\nr1: 40\n",
            "state:3: no value; line ignored\n[^]*bad isl1208.calendar \"99 99 zz\"\n[^]*bad "
            "isl1208.registers \"10\"\n[^]*DRIFT_PPM=\"fast\" is not a number; using 0\n" },
    };
    for (const Row& row : rows) {
        KovanTest::Bench fresh;
        if (!row.state.empty())
            std::ofstream(fresh.path("state")) << row.state;
        const KovanTest::BenchRun r = fresh.run(SIM_PROBE, row.args, row.settings);
        EXPECT_TRUE(std::regex_match(r.out, std::regex(row.out))) << row.args << ": " << r.out;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(row.err))) << row.args << ": " << r.err;
    }

    // A write saves a whole, clean state and leaves nothing beside it but the run's log and output.
    std::ofstream(bench.path("state")) << "isl1208.registers 10\n";
    bench.run(SIM_PROBE, "s6f w0710");
    EXPECT_EQ("", bench.run(SIM_PROBE, "s6f w0710").err);
    EXPECT_EQ(5,
        std::distance(std::filesystem::directory_iterator(bench.path("")),
            std::filesystem::directory_iterator()));

    // ... in the next run too.
    std::ofstream(bench.path("state")) << tenDaysAgo << "\n";
    bench.run(SIM_PROBE, "s6f w0b07", { "QUILLO_SIM_DRIFT_PPM=100" });
    EXPECT_TRUE(
        std::regex_match(bench.run(SIM_PROBE, "s6f w00 r7", { "QUILLO_SIM_DRIFT_PPM=100" }).out,
            std::regex("r7: 2[4-9] 01 00 20 07 31 00\n")));
}

// The state is written through a new file beside it, named after the process, which the script
// keeps when it becomes the probe: a link planted at that name redirects nothing.
TEST(BenchSimTest, LogAndStateAreRegularFilesOnly)
{
    if (!std::string(KOVAN_EMULATOR).empty())
        GTEST_SKIP() << "the planted name needs the probe's own process, not the emulator's";
    KovanTest::Bench bench;
    std::ofstream(bench.path("victim")) << "keep\n";
    std::ofstream(bench.path("plant")) << "ln -s \"$1\" \"$2.tmp$$\" && exec \"$3\" s6f w0710\n";
    EXPECT_EQ("",
        bench
            .run("sh",
                bench.path("plant") + " " + bench.path("victim") + " " + bench.path("state")
                    + " " SIM_PROBE)
            .err);
    EXPECT_EQ("keep\n", KovanTest::readFile(bench.path("victim")));
    EXPECT_NE(
        std::string::npos, KovanTest::readFile(bench.path("state")).find("isl1208.registers 10"));
}

} // namespace
