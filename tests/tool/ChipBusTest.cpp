// quillo-rtc's bus access on the simulated bench: registers by number in the chip's own bit
// order, the S35391A's reversal and the ISL1208's pointer at the bus.
#include "support/BenchRunner.h"

#include <gtest/gtest.h>

namespace {

const std::string STOPPED = "QUILLO_SIM_DRIFT_PPM=-1000000";

TEST(ChipBusTest, RegistersInTheChipsOwnOrder)
{
    const std::string now = std::to_string(time(nullptr));
    struct Row {
        std::string state, args;
        std::vector<std::string> settings;
        std::string out;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        // 0x80 in the chip's order is 0x01 on the bus, both ways; the calendar has its own
        // address (here a fresh chip's 2000-01-01, in the chip's order).
        { "", "chip s35391a w 7 80 r 7 1 t 7 80 r 2 7",
            { "QUILLO_SIM_CHIPS=s35391a", "QUILLO_SIM_S35391A_STATUS=0x02", STOPPED },
            "chip: s35391a\nr: 80\nt: 0x5f: 01\nr: 00 01 01 00 00 00 00\n",
            { "open /dev/i2c-0", "slave 0x58", "read 0x58 1: 40", "slave 0x5f", "write 0x5f 1: 01",
                "read 0x5f 1: 01", "slave 0x5a", "read 0x5a 7: 00 80 80 00 00 00 00",
                "close /dev/i2c-0" } },
        // The pointer first, alone before a read; bytes as they are.
        { "", "chip isl1208 w 18 5a r 18 2 t 7 10", { "QUILLO_SIM_CHIPS=isl1208", STOPPED },
            "chip: isl1208\nr: 5a 00\nt: 0x6f: 07 10\n",
            { "open /dev/i2c-0", "slave 0x6f", "read 0x6f 1: 00", "write 0x6f 2: 12 5a",
                "write 0x6f 1: 12", "read 0x6f 2: 5a 00", "close /dev/i2c-0" } },
        // 12-hour mode: 9 in the afternoon reads as 21; the mode is read once.
        { "s35391a.status 00 00\ns35391a.calendar 31 07 09 03 21 08 57 @ " + now,
            "chip auto cal cal", { "QUILLO_SIM_CHIPS=s35391a", STOPPED },
            "chip: s35391a\ncal: 31 07 09 03 21 08 57\ncal: 31 07 09 03 21 08 57\n",
            { "open /dev/i2c-0", "slave 0x6f", "read 0x6f 1: ENXIO", "slave 0x58",
                "read 0x58 1: 00", "slave 0x5a", "read 0x5a 7: 8c e0 90 c0 92 10 ea", "slave 0x58",
                "read 0x58 1: 00", "slave 0x5a", "read 0x5a 7: 8c e0 90 c0 92 10 ea",
                "close /dev/i2c-0" } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        KovanTest::Bench bench;
        if (!row.state.empty())
            std::ofstream(bench.path("state")) << row.state;
        const KovanTest::BenchRun r = bench.run(CHIP_BUS_PROBE, row.args, row.settings);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(row.out, r.out);
        EXPECT_EQ(row.log, bench.takeLog());
    }
}

} // namespace
