// Helpers of the SNTP tests: the private network the whole test program runs in, a scripted
// SNTP server on loopback, a real chronyd, and child processes with bounded waits.
#pragma once

#include "support/ClockSeam.h"

#include "sntp/SntpPacket.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace SntpTest {

// The test program moves into a network namespace of its own (only loopback, up) before main,
// so nothing it sends leaves the machine; the clock seam it links keeps the clock untouched.
// False, with the reason, when that failed (not root).
bool inPrivateNetwork(std::string* why);

// Base of the tests that use the network: they fail, rather than run, outside the private
// network, and the clock runs free again after each.
class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(inPrivateNetwork(&why)) << "needs a private network namespace: " << why;
    }
    void TearDown() override { KovanTest::ClockSeam::reset(); }
};

inline long long msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start)
        .count();
}

// Waits, yielding, until `condition` holds or `timeoutMs` has passed; the condition's value.
bool eventually(const std::function<bool()>& condition, int timeoutMs = 5000);
// Entries in /proc/self/fd: a test that opens and closes sockets leaves it unchanged.
int openDescriptors();
sockaddr_in loopback(int port);
// The 8 bytes of an SntpTime as they stand at `offset` in a datagram.
Kovan::SntpTime timeAt(const std::string& datagram, size_t offset);

// Builds a reply from the request's bytes; no result sends nothing back (an empty string sends
// an empty datagram).
using ReplyScript = std::function<std::optional<std::string>(const std::string& request)>;

// A UDP server on 127.0.0.1 whose answers the test writes. Serves until destroyed; its socket
// is not inherited by child processes, so its port is free (and refuses) once it is gone.
class ScriptedServer {
public:
    explicit ScriptedServer(ReplyScript script, int port = 0);
    ~ScriptedServer();

    int port() const { return _port; }
    int requests() const { return _requests; }

    // A well-formed server reply: first byte 0x1C with the leap bits, the stratum, org echoed
    // from the request, rec and xmt as given.
    static std::string reply(const std::string& request, Kovan::SntpTime rec, Kovan::SntpTime xmt,
        int stratum = 2, int leap = 0);
    // Answers every request with the current time.
    static std::string prompt(const std::string& request)
    {
        return reply(request, Kovan::SntpTime::currentTime(), Kovan::SntpTime::currentTime());
    }

private:
    ReplyScript _script;
    int _fd;
    int _port = 0;
    std::atomic<bool> _stop { false };
    std::atomic<int> _requests { 0 };
    std::thread _thread;
};

// A child process with its standard output and error collected; killed when destroyed.
class Child {
public:
    // `env` entries ("NAME=value") are added to this process's environment.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Collects output until `done(out)` holds or `timeoutMs` has passed; `done`'s value.
    bool waitForOutput(const std::function<bool(const std::string&)>& done, int timeoutMs);
    // Waits for the exit and the output; true, with the status, if it exited in time.
    bool wait(int timeoutMs, int* exitStatus = nullptr);
    // SIGTERM, then SIGKILL if it is still there after a second; collects the output left.
    void stop();

    pid_t pid = -1;
    std::string out, err;

private:
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

    int _fds[2] = { -1, -1 }; // standard output, standard error
    bool _exited = false;
    int _status = 0;
};

// chronyd as a local server on 127.0.0.1:123 that never touches the clock; its files live in a
// temporary folder removed with it. Started and answering, or a test failure, when made.
struct Chronyd {
    Chronyd();
    ~Chronyd();
    std::string dir;
    std::unique_ptr<Child> child;
    bool ready = false;
};

// One raw exchange with 127.0.0.1:`port`; the reply's bytes, or an empty string when nothing
// came within `timeoutMs`.
std::string rawQuery(int port, const std::string& request, int timeoutMs);

} // namespace SntpTest
