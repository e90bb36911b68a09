// The tool's drift test (-s) end to end: the real quillo on the simulated bench, its chip
// drifting at a known rate, against chronyd and the project's own server on the private
// loopback; a period of one or two seconds, a few checks read, then the process is stopped.
#include "SntpTestSupport.h"
#include "support/ClockSeam.h"

#include "sntp/SntpServer.h"

#include <csignal>
#include <ctime>
#include <gtest/gtest.h>
#include <regex>

#if defined(QUILLO_PATH) && defined(QUILLO_BENCH_PATH)

using SntpTest::Child;

namespace {

// One "<<<<< Check ... >>>>>" block of the output, as printed.
struct Check {
    std::string elapsed;
    tm server = {};
    tm rtc = {};
    long difference = 0;
    std::string verdict;
};

const char* const HEADER = "Connection Success!!\n<<<<< Sync Local & Rtc to Server >>>>>\n"
                           "SERVER- DATE: ";

std::vector<Check> checks(const std::string& out)
{
    static const std::regex block(
        "<<<<< Check Server & Local & Rtc >>>>> - Elapsed : ([0-9.]+) min\\.\n"
        "SERVER- DATE: ([ 0-9]{4})-([ 0-9]{2})-([ 0-9]{2})\\([0-6]\\) - TIME: ([ 0-9]{2})-([ "
        "0-9]{2})-([ 0-9]{2})\n"
        "RTC   - DATE: ([ 0-9]{4})-([ 0-9]{2})-([ 0-9]{2})\\([0-6]\\) - TIME: ([ 0-9]{2})-([ "
        "0-9]{2})-([ 0-9]{2})\n\n"
        "DIFF  = (-?[0-9]+) sec\\. \\((RTC is slower than SERVER|RTC is fasterthan SERVER|RTC is "
        "equal to SERVER)\\)\n\n");
    std::vector<Check> found;
    for (std::sregex_iterator i(out.begin(), out.end(), block), end; i != end; ++i) {
        const std::smatch& m = *i;
        Check c;
        c.elapsed = m[1];
        tm* t[2] = { &c.server, &c.rtc };
        for (int k = 0; k < 2; ++k) {
            t[k]->tm_year = std::stoi(m[2 + 6 * k]) - 1900;
            t[k]->tm_mon = std::stoi(m[3 + 6 * k]) - 1;
            t[k]->tm_mday = std::stoi(m[4 + 6 * k]);
            t[k]->tm_hour = std::stoi(m[5 + 6 * k]);
            t[k]->tm_min = std::stoi(m[6 + 6 * k]);
            t[k]->tm_sec = std::stoi(m[7 + 6 * k]);
        }
        c.difference = std::stol(m[14]);
        c.verdict = m[15];
        found.push_back(c);
    }
    return found;
}

class DriftTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SNTP_REQUIRE_PRIVATE_NETWORK();
        KovanTest::ClockSeam::reset();
    }

    // quillo on the bench with an ISL1208 whose clock runs at (1 + ppm / 10^6) times real time.
    std::unique_ptr<Child> quillo(const std::vector<std::string>& args, double ppm = 0)
    {
        std::vector<std::string> argv = { QUILLO_BENCH_PATH, QUILLO_PATH, "0x6F" };
        argv.insert(argv.end(), args.begin(), args.end());
        return std::unique_ptr<Child>(new Child(
            argv, { "QUILLO_SIM_CHIPS=isl1208", "QUILLO_SIM_DRIFT_PPM=" + std::to_string(ppm) }));
    }

    // Runs the drift test until `count` checks are printed, then stops it.
    std::vector<Check> run(int period, double ppm, size_t count, std::string* out)
    {
        std::unique_ptr<Child> child = quillo({ "-s", "127.0.0.1", std::to_string(period) }, ppm);
        const bool done = child->waitForOutput(
            [&](const std::string& text) { return checks(text).size() >= count; },
            (period * static_cast<int>(count) + 10) * 1000);
        child->stop();
        *out = child->out();
        EXPECT_TRUE(done) << child->out() << child->err();
        EXPECT_EQ(0u, child->out().find(HEADER)) << child->out();
        return checks(child->out());
    }

    // The printed difference is the printed server time less the printed chip time.
    static void expectConsistent(const Check& c)
    {
        tm server = c.server, rtc = c.rtc;
        server.tm_isdst = rtc.tm_isdst = -1;
        EXPECT_EQ(c.difference, static_cast<long>(mktime(&server) - mktime(&rtc)));
        const char* verdict = c.difference > 0 ? "RTC is slower than SERVER"
            : c.difference < 0                 ? "RTC is fasterthan SERVER"
                                               : "RTC is equal to SERVER";
        EXPECT_EQ(verdict, c.verdict);
    }
};

} // namespace

TEST_F(DriftTest, AStoppedChipFallsBehindChronyd)
{
    SntpTest::Chronyd chronyd;
    ASSERT_TRUE(chronyd.ready());
    std::string out;
    // -10^6 ppm: the chip's clock stands still after the setting.
    const std::vector<Check> found = run(1, -1e6, 3, &out);
    ASSERT_GE(found.size(), 3u) << out;
    const char* elapsed[] = { "0.02", "0.03", "0.05" };
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(elapsed[k], found[k].elapsed);
        // One period per check, plus the fraction of a second the chip was set at.
        EXPECT_GE(found[k].difference, k + 1) << out;
        EXPECT_LE(found[k].difference, k + 2) << out;
        EXPECT_EQ("RTC is slower than SERVER", found[k].verdict);
        expectConsistent(found[k]);
    }
}

TEST_F(DriftTest, AChipAtTwiceTheRateRunsAheadOfTheProjectsServer)
{
    Kovan::SntpServer server;
    server.setEnable(true);
    ASSERT_TRUE(server.isEnable());
    ASSERT_TRUE(server.run());
    std::string out;
    // +10^6 ppm: two chip seconds for every real one, so it gains a period per period.
    const std::vector<Check> found = run(2, 1e6, 2, &out);
    server.quit();
    server.join();
    server.setEnable(false);

    ASSERT_GE(found.size(), 2u) << out;
    const char* elapsed[] = { "0.03", "0.07" };
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(elapsed[k], found[k].elapsed);
        EXPECT_LE(found[k].difference, -2 * (k + 1) + 1) << out;
        EXPECT_GE(found[k].difference, -2 * (k + 1) - 1) << out;
        EXPECT_EQ("RTC is fasterthan SERVER", found[k].verdict);
        expectConsistent(found[k]);
    }
}

TEST_F(DriftTest, NoServerAtTheStartEndsTheTest)
{
    // Nobody on 127.0.0.1:123, then the built-in public address, which this network cannot
    // reach: both end at once with status 0.
    for (const std::vector<std::string>& args :
        { std::vector<std::string> { "-s", "127.0.0.1", "1" },
            std::vector<std::string> { "-s" } }) {
        std::unique_ptr<Child> child = quillo(args);
        int status = -1;
        ASSERT_TRUE(child->wait(20000, &status));
        EXPECT_EQ(0, status) << child->err();
        EXPECT_EQ("Connection Fail!\n", child->out()) << child->err();
    }
}

TEST_F(DriftTest, AServerThatGoesAwayIsReportedAndTheTestGoesOn)
{
    std::unique_ptr<SntpTest::ScriptedServer> server(new SntpTest::ScriptedServer(
        [](const std::string& request, Kovan::SntpTime arrival) {
            return SntpTest::ScriptedServer::reply(request, arrival, arrival);
        },
        123));
    std::unique_ptr<Child> child = quillo({ "-s", "127.0.0.1", "1" });
    ASSERT_TRUE(child->waitForOutput(
        [](const std::string& text) { return checks(text).size() >= 1; }, 15000))
        << child->out() << child->err();
    server.reset();

    // The next check finds nobody; the reply limit (5 s) passes, the loss is reported with the
    // nominal elapsed time, and the test goes on with the next period.
    const std::string lost = "!!! Connect Fail !!! - Elapsed : 0.03 min.\n\n";
    ASSERT_TRUE(child->waitForOutput(
        [&](const std::string& text) { return text.find(lost) != std::string::npos; }, 15000))
        << child->out() << child->err();
    int status = 0;
    EXPECT_FALSE(child->wait(0, &status)) << "the drift test must go on after a lost query";
    child->stop();
    EXPECT_EQ(1u, checks(child->out()).size()) << child->out();
}

#endif
