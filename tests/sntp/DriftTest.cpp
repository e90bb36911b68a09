// The tool's drift test (-s) end to end: the real quillo on the simulated bench, its chip drifting
// at a known rate, against a server on the private loopback that goes away.
#include "SntpTestSupport.h"

#include <ctime>
#include <gtest/gtest.h>
#include <regex>

#if defined(QUILLO_PATH) && defined(QUILLO_BENCH_PATH)

namespace {

// Each printed check as "elapsed difference verdict", the difference matching its two times.
std::vector<std::string> checks(const std::string& out)
{
    const std::string date
        = "DATE: ([ 0-9]{4}-[ 0-9]{2}-[ 0-9]{2}\\([0-6]\\) - TIME: [ 0-9-]{8})\n";
    static const std::regex block("<<<<< Check Server & Local & Rtc >>>>> - Elapsed : ([0-9.]+) "
                                  "min\\.\nSERVER- "
        + date + "RTC   - " + date
        + "\nDIFF  = (-?[0-9]+) sec\\. \\((RTC is [a-z ]+ SERVER)\\)\n\n");
    const auto seconds = [](const std::string& text) {
        tm t = {};
        strptime(text.c_str(), "%Y-%m-%d(%w) - TIME: %H-%M-%S", &t);
        return timegm(&t);
    };
    std::vector<std::string> found;
    for (std::sregex_iterator i(out.begin(), out.end(), block), end; i != end; ++i) {
        EXPECT_EQ(std::stol((*i)[4]), seconds((*i)[2]) - seconds((*i)[3])) << (*i)[0];
        found.push_back((*i)[1].str() + " " + (*i)[4].str() + " " + (*i)[5].str());
    }
    return found;
}

// quillo on the bench with an ISL1208 whose clock runs at (1 + ppm / 10^6) times real time.
SntpTest::Child quillo(const std::vector<std::string>& args, double ppm = 0)
{
    std::vector<std::string> argv = { "env", "QUILLO_SIM_CHIPS=isl1208",
        "QUILLO_SIM_DRIFT_PPM=" + std::to_string(ppm), QUILLO_BENCH_PATH, QUILLO_PATH, "0x6F" };
    argv.insert(argv.end(), args.begin(), args.end());
    return SntpTest::Child(argv);
}

class DriftTest : public SntpTest::NetworkTest { };

} // namespace

TEST_F(DriftTest, AChipAtTwiceTheRateRunsAheadAndALostServerIsReported)
{
    auto server = std::make_unique<SntpTest::ScriptedServer>(
        [](const std::string& request) {
            const Kovan::SntpTime now = Kovan::SntpTime::currentTime();
            return std::vector<std::string> { SntpTest::ScriptedServer::reply(request, now, now) };
        },
        123);
    // Two chip seconds for every real one; the chip was set within a second of the server.
    SntpTest::Child child = quillo({ "-s", "127.0.0.1", "1" }, 1e6);
    ASSERT_TRUE(
        child.waitForOutput([](const std::string& o) { return checks(o).size() >= 2; }, 15000))
        << child.out << child.err;
    server.reset();
    // The next query is refused at once: reported with its nominal elapsed time, and on it goes.
    ASSERT_TRUE(child.waitForText("!!! Connect Fail !!! - Elapsed : 0.05 min.\n\n", 15000))
        << child.out << child.err;
    EXPECT_FALSE(child.wait(0)) << "the drift test ended after a lost query";
    const std::vector<std::string> found = checks(child.out);
    ASSERT_EQ(2u, found.size()) << child.out;
    for (size_t k = 0; k < 2; ++k) {
        const std::string late = k ? "0.03 -" : "0.02 -", verdict = " RTC is fasterthan SERVER";
        EXPECT_TRUE(found[k] == late + std::to_string(k + 1) + verdict
            || found[k] == late + std::to_string(k + 2) + verdict)
            << found[k];
    }
}

TEST_F(DriftTest, NoServerAtTheStartEndsTheTest)
{
    // Nobody on 127.0.0.1:123, then the built-in public address, unreachable from here.
    for (const std::vector<std::string>& args :
        { std::vector<std::string> { "-s", "127.0.0.1", "1" },
            std::vector<std::string> { "-s" } }) {
        SntpTest::Child child = quillo(args);
        int status = -1;
        ASSERT_TRUE(child.wait(20000, &status));
        EXPECT_EQ(0, status) << args.size() << " words: " << child.err;
        EXPECT_EQ("Connection Fail!\n", child.out) << args.size() << " words: " << child.err;
    }
}

#endif
