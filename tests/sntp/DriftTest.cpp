// The tool's drift test (-s) end to end: the real quillo on the simulated bench, its chip drifting
// at a known rate, against chronyd and the project's own server on the private loopback.
#include "SntpTestSupport.h"

#include "sntp/SntpServer.h"

#include <ctime>
#include <gtest/gtest.h>
#include <regex>

#if defined(QUILLO_PATH) && defined(QUILLO_BENCH_PATH)

using SntpTest::Child;

namespace {

const char* const DATE
    = "(DATE: [ 0-9]{4}-[ 0-9]{2}-[ 0-9]{2}\\([0-6]\\) - TIME: [ 0-9]{2}-[ 0-9]{2}-[ 0-9]{2})\n";

time_t seconds(const std::string& date)
{
    tm t = {};
    strptime(date.c_str(), "DATE: %Y-%m-%d(%w) - TIME: %H-%M-%S", &t);
    t.tm_isdst = -1;
    return mktime(&t);
}

// Each printed check: its elapsed text, verdict, difference, and server less chip time as printed.
struct Check {
    std::string elapsed, verdict;
    long difference, printed;
};

std::vector<Check> checks(const std::string& out)
{
    static const std::regex block(
        std::string("<<<<< Check Server & Local & Rtc >>>>> - Elapsed : ([0-9.]+) min\\.\nSERVER- ")
        + DATE + "RTC   - " + DATE
        + "\nDIFF  = (-?[0-9]+) sec\\. \\((RTC is [a-z ]+ SERVER)\\)\n\n");
    std::vector<Check> found;
    for (std::sregex_iterator i(out.begin(), out.end(), block), end; i != end; ++i)
        found.push_back(
            { (*i)[1], (*i)[5], std::stol((*i)[4]), seconds((*i)[2]) - seconds((*i)[3]) });
    return found;
}

// quillo on the bench with an ISL1208 whose clock runs at (1 + ppm / 10^6) times real time.
std::unique_ptr<Child> quillo(const std::vector<std::string>& args, double ppm = 0)
{
    std::vector<std::string> argv = { "env", "QUILLO_SIM_CHIPS=isl1208",
        "QUILLO_SIM_DRIFT_PPM=" + std::to_string(ppm), QUILLO_BENCH_PATH, QUILLO_PATH, "0x6F" };
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Child>(argv);
}

class DriftTest : public SntpTest::NetworkTest {
protected:
    // Runs the drift test until `elapsed.size()` checks are printed, then stops it. The ranges
    // allow for the fraction of a second the chip was set at.
    void expectChecks(int period, double ppm, const std::vector<std::string>& elapsed,
        const std::vector<std::pair<long, long>>& range, const char* verdict)
    {
        std::unique_ptr<Child> child = quillo({ "-s", "127.0.0.1", std::to_string(period) }, ppm);
        const size_t n = elapsed.size();
        EXPECT_TRUE(
            child->waitForOutput([&](const std::string& out) { return checks(out).size() >= n; },
                (period * static_cast<int>(n) + 10) * 1000));
        child->stop();
        const std::string& out = child->out;
        const std::vector<Check> found = checks(out);
        ASSERT_GE(found.size(), n) << out;
        for (size_t k = 0; k < n; ++k) {
            EXPECT_EQ(elapsed[k], found[k].elapsed) << "check " << k;
            EXPECT_GE(found[k].difference, range[k].first) << "check " << k << "\n" << out;
            EXPECT_LE(found[k].difference, range[k].second) << "check " << k << "\n" << out;
            EXPECT_EQ(verdict, found[k].verdict) << "check " << k;
            EXPECT_EQ(found[k].difference, found[k].printed) << "check " << k << " vs its times";
        }
    }
};

} // namespace

TEST_F(DriftTest, AStoppedChipFallsBehindChronyd)
{
    SntpTest::Chronyd chronyd;
    ASSERT_TRUE(chronyd.ready);
    // -10^6 ppm: the chip stands still, a period further behind per check.
    expectChecks(1, -1e6, { "0.02", "0.03" }, { { 1, 2 }, { 2, 3 } }, "RTC is slower than SERVER");
}

TEST_F(DriftTest, AChipAtTwiceTheRateRunsAheadOfTheProjectsServer)
{
    Kovan::SntpServer server;
    server.setEnable(true);
    ASSERT_TRUE(server.run());
    // +10^6 ppm: two chip seconds for every real one.
    expectChecks(
        2, 1e6, { "0.03", "0.07" }, { { -3, -1 }, { -5, -3 } }, "RTC is fasterthan SERVER");
    server.quit();
    server.join();
    server.setEnable(false);
}

TEST_F(DriftTest, NoServerAtTheStartEndsTheTest)
{
    // Nobody on 127.0.0.1:123, then the built-in public address, unreachable from here.
    for (const std::vector<std::string>& args :
        { std::vector<std::string> { "-s", "127.0.0.1", "1" },
            std::vector<std::string> { "-s" } }) {
        std::unique_ptr<Child> child = quillo(args);
        int status = -1;
        ASSERT_TRUE(child->wait(20000, &status));
        EXPECT_EQ(0, status) << args.size() << " words: " << child->err;
        EXPECT_EQ("Connection Fail!\n", child->out) << args.size() << " words: " << child->err;
    }
}

TEST_F(DriftTest, AServerThatGoesAwayIsReportedAndTheTestGoesOn)
{
    auto server = std::make_unique<SntpTest::ScriptedServer>(
        [](const std::string& request) {
            const Kovan::SntpTime now = Kovan::SntpTime::currentTime();
            return std::vector<std::string> { SntpTest::ScriptedServer::reply(request, now, now) };
        },
        123);
    std::unique_ptr<Child> child = quillo({ "-s", "127.0.0.1", "1" });
    ASSERT_TRUE(
        child->waitForOutput([](const std::string& out) { return checks(out).size() >= 1; }, 15000))
        << child->out << child->err;
    server.reset();
    // The next query is refused at once: reported with its nominal elapsed time, and on it goes.
    const std::string lost = "!!! Connect Fail !!! - Elapsed : 0.03 min.\n\n";
    ASSERT_TRUE(child->waitForText(lost, 15000)) << child->out << child->err;
    EXPECT_FALSE(child->wait(0)) << "the drift test ended after a lost query";
    child->stop();
    EXPECT_EQ(1u, checks(child->out).size()) << child->out;
}

#endif
