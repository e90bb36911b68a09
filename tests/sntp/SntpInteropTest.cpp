// The SNTP service against real peers from Debian on the private loopback: the client against
// chronyd (which never touches the clock), the server against ntpdig, and the example programs.
#include "SntpTestSupport.h"

#include "sntp/SntpClient.h"
#include "sntp/SntpServer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>

using SntpTest::Child;

namespace {

// Runs a one-shot client up to twenty times (a loaded machine can delay one side of an exchange),
// checking each report "DATE TIME (ZONE) OFFSET +/- ERR HOST sSTRATUM LEAP", the form ntpdig and
// sntp-query share; the best offset must be within 2 ms of the same clock.
void expectReports(const std::vector<std::string>& argv, const std::string& stratum)
{
    double best = 1.0;
    for (int run = 0; run < 20 && best >= 0.002; ++run) {
        Child client(argv);
        int status = -1;
        ASSERT_TRUE(client.wait(20000, &status));
        ASSERT_EQ(0, status) << client.out << client.err;
        std::istringstream in(client.out);
        std::string date, time, zone, plusMinus, error, host, stratumText, leap;
        double offset = 1.0;
        ASSERT_TRUE(in >> date >> time >> zone >> offset >> plusMinus >> error >> host
            >> stratumText >> leap)
            << client.out;
        EXPECT_EQ("+/- 127.0.0.1 " + stratum + " no-leap",
            plusMinus + " " + host + " " + stratumText + " " + leap);
        best = std::min(best, std::fabs(offset));
    }
    EXPECT_LT(best, 0.002);
}

class SntpInteropTest : public SntpTest::NetworkTest { };

} // namespace

TEST_F(SntpInteropTest, ClientQueriesChronyd)
{
    SntpTest::Chronyd chronyd;
    ASSERT_TRUE(chronyd.ready);
    Kovan::SntpClient client;
    client.setServerAddress("127.0.0.1");
    Kovan::SntpServerResponse response;
    double best = 1.0;
    for (int i = 0; i < 20 && best >= 0.002; ++i) {
        ASSERT_TRUE(client.getServerTime(&response));
        EXPECT_GT(response.delay, -0.002);
        EXPECT_LT(response.delay, 1.0);
        EXPECT_EQ(10, response.stratum);
        EXPECT_EQ(0, response.leapIndicator);
        best = std::min(best, std::fabs(response.offset));
    }
    // The quietest of up to twenty exchanges, as any NTP client would pick it.
    EXPECT_LT(best, 0.002);

    // Strict: chronyd's replies pass every check, and with full-resolution stamps on the same
    // clock the typical offset is a few microseconds.
    client.setStrict(true);
    std::vector<double> offsets;
    for (int i = 0; i < 21; ++i) {
        ASSERT_TRUE(client.getServerTime(&response));
        offsets.push_back(std::fabs(response.offset));
    }
    std::nth_element(offsets.begin(), offsets.begin() + 10, offsets.end());
    EXPECT_LT(offsets[10], 100e-6);
}

TEST_F(SntpInteropTest, NtpdigAcceptsTheServer)
{
    Kovan::SntpServer server;
    server.setEnable(true);
    ASSERT_TRUE(server.isEnable());
    ASSERT_TRUE(server.run());
    // A generous reply limit: ntpdig itself starts slowly on a loaded machine.
    expectReports({ "ntpdig", "-t", "10", "127.0.0.1" }, "s14");
    server.quit();
    server.join();
    server.setEnable(false);
}

#if defined(SNTP_QUERY_PATH) && defined(SNTP_SERVE_PATH)
TEST_F(SntpInteropTest, ExamplesServeUntilInterruptedAndQueryLikeNtpdig)
{
    Child serve({ SNTP_SERVE_PATH, "--classic" });
    ASSERT_TRUE(serve.waitForOutput(
        [](const std::string& out) { return out.find("serving SNTP") != std::string::npos; },
        10000))
        << serve.err;
    expectReports({ SNTP_QUERY_PATH, "127.0.0.1" }, "s14");
    Child json({ SNTP_QUERY_PATH, "-j", "-c", "3", "127.0.0.1" });
    int status = -1;
    ASSERT_TRUE(json.wait(20000, &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ(0u, json.out.find("{\"server\":\"127.0.0.1\",\"mode\":\"strict\",\"time\":"))
        << json.out;
    for (const char* field : { "\"stratum\":14,\"leap\":0,", "\"samples\":3}\n" })
        EXPECT_NE(std::string::npos, json.out.find(field)) << json.out;
    kill(serve.pid, SIGINT);
    ASSERT_TRUE(serve.wait(5000, &status));
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, serve.err.find("SntpServer is finished...\n")) << serve.err;

    // Nobody answers now: a message and status 1, at once in the classic mode (the refusal ends
    // it), after the wait in the strict one (anyone can forge a refusal); a bad option gives 2.
    for (const char* mode : { "--classic", "-j" }) {
        Child silent({ SNTP_QUERY_PATH, mode, "-t", "200", "127.0.0.1" });
        ASSERT_TRUE(silent.wait(10000, &status));
        EXPECT_EQ(1, status);
        EXPECT_EQ("", silent.out);
        EXPECT_NE(std::string::npos,
            silent.err.find('j' == mode[1] ? "127.0.0.1: no reply within 200 ms"
                                           : "no usable reply from 127.0.0.1"))
            << silent.err;
    }
    Child bad({ SNTP_QUERY_PATH, "-p", "0", "127.0.0.1" });
    ASSERT_TRUE(bad.wait(10000, &status));
    EXPECT_EQ(2, status);
}
#endif

#ifdef SNTP_SERVE_PATH
TEST_F(SntpInteropTest, ChronydSelectsTheModernServerAndNtpdigAcceptsIt)
{
    // Its own reference (-L): the kernel of a test machine may well call its clock unsynchronised,
    // and chronyd ignores a source that says so.
    Child serve({ SNTP_SERVE_PATH, "-L" });
    ASSERT_TRUE(serve.waitForOutput(
        [](const std::string& out) { return out.find("serving SNTP") != std::string::npos; },
        10000))
        << serve.err;
    expectReports({ "ntpdig", "-t", "10", "127.0.0.1" }, "s10");

    // chronyd as a client only (no port of its own), the modern server its one source.
    char name[] = "/tmp/kovan-sntp-client-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(name));
    const std::string dir = name;
    chmod(name, 0777);
    std::ofstream(dir + "/chrony.conf")
        << "server 127.0.0.1 iburst minpoll -4 maxpoll -4\nport 0\ncmdport 0\npidfile " << dir
        << "/chronyd.pid\ndriftfile " << dir << "/chrony.drift\n";
    {
        Child chronyd({ "chronyd", "-x", "-d", "-f", dir + "/chrony.conf" });
        EXPECT_TRUE(chronyd.waitForOutput(
            [&](const std::string&) {
                return chronyd.err.find("Selected source 127.0.0.1") != std::string::npos;
            },
            20000))
            << chronyd.err;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
#endif
