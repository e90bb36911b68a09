// Helpers of the SNTP tests: the private network the whole test program runs in, a scripted
// SNTP server on loopback, a real chronyd, and child processes with bounded waits.
#pragma once

#include "sntp/SntpPacket.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace SntpTest {

// The test program moves into a network namespace of its own (only loopback, up) before main,
// so nothing it sends leaves the machine; the clock seam it links keeps the clock untouched.
// False, with the reason, when that failed (not root): such tests fail instead of running.
bool inPrivateNetwork(std::string* why = nullptr);

#define SNTP_REQUIRE_PRIVATE_NETWORK()                                                             \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!::SntpTest::inPrivateNetwork(&why_))                                                  \
            GTEST_FAIL() << "needs a private network namespace: " << why_;                         \
    } while (0)

// Builds a reply from the request's bytes and the time the request arrived; an empty result
// sends nothing back.
using ReplyScript = std::function<std::string(const std::string& request, Kovan::SntpTime arrival)>;

// A UDP server on 127.0.0.1 whose answers the test writes. Serves until destroyed.
class ScriptedServer {
public:
    explicit ScriptedServer(ReplyScript script, int port = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return _port; }
    int requests() const { return _requests; }
    std::vector<std::string> received();

    // A well-formed server reply: first byte 0x1C, the given stratum, org echoed from the
    // request, rec and xmt as given.
    static std::string reply(const std::string& request, Kovan::SntpTime rec, Kovan::SntpTime xmt,
        int stratum = 2, int leap = 0);

private:
    void serve();

    ReplyScript _script;
    int _fd;
    int _port;
    std::atomic<bool> _stop;
    std::atomic<int> _requests;
    std::mutex _mutex;
    std::vector<std::string> _received;
    std::thread _thread;
};

// A temporary folder, removed with what it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return _path; }

private:
    std::string _path;
};

// A child process with its standard output and error collected; killed when destroyed.
class Child {
public:
    // `env` entries ("NAME=value") are added to this process's environment.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return _pid; }
    // Reads output until `done(stdout so far)` is true or `timeoutMs` has passed; true if done.
    bool waitForOutput(const std::function<bool(const std::string&)>& done, int timeoutMs);
    // Waits up to `timeoutMs` for the exit; true, with the status, if it exited.
    bool wait(int timeoutMs, int* exitStatus);
    // SIGTERM, then SIGKILL if it is still there after a second; collects the output left.
    void stop();
    const std::string& out() const { return _out; }
    const std::string& err() const { return _err; }

private:
    void pump(int timeoutMs);

    pid_t _pid;
    int _outFd;
    int _errFd;
    bool _exited;
    int _status;
    std::string _out;
    std::string _err;
};

// chronyd as a local server on 127.0.0.1:123 that never touches the clock.
class Chronyd {
public:
    Chronyd();
    ~Chronyd();
    // Started and answering SNTP within the bounded wait.
    bool ready() const { return _ready; }
    void stop();

private:
    TempDir _dir;
    std::unique_ptr<Child> _child;
    bool _ready;
};

// One raw SNTP exchange with a 48-byte request to 127.0.0.1:`port`; the reply's bytes, or an
// empty string when nothing came within `timeoutMs`.
std::string rawQuery(int port, const std::string& request, int timeoutMs);
std::string clientRequest(Kovan::SntpTime xmt);

} // namespace SntpTest
