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

time_t seconds(const std::string& date)
{
    tm t = {};
    strptime(date.c_str(), "DATE: %Y-%m-%d(%w) - TIME: %H-%M-%S", &t);
    t.tm_isdst = -1;
    return mktime(&t);
}

struct Check {
    std::string elapsed;
    long difference;
    std::string verdict;
};

// Each printed check, its difference matching its two times.
std::vector<Check> checks(const std::string& out)
{
    const std::string date = "(DATE: [ 0-9]{4}-[ 0-9]{2}-[ 0-9]{2}\\([0-6]\\) - TIME: [ 0-9]{2}-[ "
                             "0-9]{2}-[ 0-9]{2})\n";
    static const std::regex block("<<<<< Check Server & Local & Rtc >>>>> - Elapsed : ([0-9.]+) "
                                  "min\\.\nSERVER- "
        + date + "RTC   - " + date
        + "\nDIFF  = (-?[0-9]+) sec\\. \\((RTC is [a-z ]+ SERVER)\\)\n\n");
    std::vector<Check> found;
    for (std::sregex_iterator i(out.begin(), out.end(), block), end; i != end; ++i) {
        found.push_back({ (*i)[1], std::stol((*i)[4]), (*i)[5] });
        EXPECT_EQ(found.back().difference, seconds((*i)[2]) - seconds((*i)[3])) << "its times";
    }
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

class DriftTest : public SntpTest::NetworkTest { };

} // namespace

TEST_F(DriftTest, EachCheckShowsTheChipsDriftAgainstChronydAndTheProjectsServer)
{
    // A stopped chip (-10^6 ppm) falls a period further behind per check; one at twice the rate
    // runs ahead. The chip was set within a second, so each difference may be one more.
    const struct {
        bool chronyd;
        double ppm;
        int period;
        const char* elapsed[2];
        double difference[2];
        const char* verdict;
    } cases[] = {
        { true, -1e6, 1, { "0.02", "0.03" }, { 1.5, 2.5 }, "RTC is slower than SERVER" },
        { false, 1e6, 2, { "0.03", "0.07" }, { -2.5, -4.5 }, "RTC is fasterthan SERVER" },
    };
    for (const auto& c : cases) {
        std::unique_ptr<SntpTest::Chronyd> chronyd;
        Kovan::SntpServer server;
        if (c.chronyd) {
            chronyd = std::make_unique<SntpTest::Chronyd>();
            ASSERT_TRUE(chronyd->ready);
        } else {
            server.setEnable(true);
            ASSERT_TRUE(server.run());
        }
        auto child = quillo({ "-s", "127.0.0.1", std::to_string(c.period) }, c.ppm);
        EXPECT_TRUE(
            child->waitForOutput([&](const std::string& out) { return checks(out).size() >= 2; },
                c.period * 2000 + 10000));
        child->stop();
        const std::vector<Check> found = checks(child->out);
        ASSERT_GE(found.size(), 2u) << child->out;
        for (size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(c.elapsed[k], found[k].elapsed) << "check " << k;
            EXPECT_NEAR(c.difference[k], found[k].difference, 0.5) << "check " << k << child->out;
            EXPECT_EQ(c.verdict, found[k].verdict) << "check " << k;
        }
        server.quit();
        server.join();
    }
}

TEST_F(DriftTest, NoServerAtTheStartEndsTheTestAndALostServerIsReported)
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

    auto server = std::make_unique<SntpTest::ScriptedServer>(
        [](const std::string& request) {
            const Kovan::SntpTime now = Kovan::SntpTime::currentTime();
            return std::vector<std::string> { SntpTest::ScriptedServer::reply(request, now, now) };
        },
        123);
    std::unique_ptr<Child> child = quillo({ "-s", "127.0.0.1", "1" });
    ASSERT_TRUE(
        child->waitForOutput([](const std::string& out) { return !checks(out).empty(); }, 15000))
        << child->out << child->err;
    server.reset();
    // The next query is refused at once: reported with its nominal elapsed time, and on it goes.
    ASSERT_TRUE(child->waitForText("!!! Connect Fail !!! - Elapsed : 0.03 min.\n\n", 15000))
        << child->out << child->err;
    EXPECT_FALSE(child->wait(0)) << "the drift test ended after a lost query";
    child->stop();
    EXPECT_EQ(1u, checks(child->out).size()) << child->out;
}

#endif
