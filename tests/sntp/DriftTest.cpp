// The tool's drift test (-s) end to end: the real quillo on the simulated bench, its chip running
// at twice the real rate, against a server on the private loopback that then goes away.
#include "SntpTestSupport.h"

#include <gtest/gtest.h>
#include <regex>

#if defined(QUILLO_PATH) && defined(QUILLO_BENCH_PATH)

TEST(DriftTest, AChipAtTwiceTheRateRunsAheadAndALostServerIsReported)
{
    ASSERT_EQ("", SntpTest::privateNetworkError());
    auto server = std::make_unique<SntpTest::ScriptedServer>(
        [](const std::string& request) {
            const Kovan::SntpTime now = Kovan::SntpTime::currentTime();
            return std::vector<std::string> { SntpTest::ScriptedServer::reply(request, now, now) };
        },
        123);
    SntpTest::Child quillo({ "env", "QUILLO_SIM_CHIPS=isl1208", "QUILLO_SIM_DRIFT_PPM=1000000",
        QUILLO_BENCH_PATH, QUILLO_PATH, "0x6F", "-s", "127.0.0.1", "1" });
    // A second further ahead at each check, or one more: the chip was set within a second.
    const std::string date = "DATE: [ 0-9]{4}-[ 0-9]{2}-[ 0-9]{2}\\([0-6]\\) - TIME: [ 0-9-]{8}\n";
    const auto check = [&](const char* elapsed, const char* difference) {
        return std::string("<<<<< Check Server & Local & Rtc >>>>> - Elapsed : ") + elapsed
            + " min\\.\nSERVER- " + date + "RTC   - " + date + "\nDIFF  = " + difference
            + " sec\\. \\(RTC is fasterthan SERVER\\)\n\n";
    };
    const std::regex twoChecks(check("0\\.02", "-[12]") + check("0\\.03", "-[23]"));
    ASSERT_TRUE(quillo.waitForOutput(
        [&](const std::string& out) { return std::regex_search(out, twoChecks); }, 15000))
        << quillo.out << quillo.err;
    server.reset();
    // The next query is refused at once: reported with its nominal elapsed time, and on it goes.
    ASSERT_TRUE(quillo.waitForText("\n\n!!! Connect Fail !!! - Elapsed : 0.05 min.\n\n", 15000))
        << quillo.out << quillo.err;
    EXPECT_FALSE(quillo.wait(0)) << "the drift test ended after a lost query";
}

#endif
