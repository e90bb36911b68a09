// The SNTP tests' private network, scripted servers and failing send.
#pragma once

#include "support/ClockSeam.h"

#include "sntp/SntpPacket.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <thread>
#include <vector>

namespace SntpTest {

// Fails outside the program's own network namespace (only loopback); frees the clock after.
class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override { KovanTest::ClockSeam::reset(); }
};

inline long long msSince(std::chrono::steady_clock::time_point start)
{
    return (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
}
bool eventually(const std::function<bool()>& condition, int timeoutMs = 5000);
int openDescriptors();
sockaddr_in loopback(int port);
// `length` bytes, first byte `first`, poll 6 + `tag`, the transmit time ending in `tag`.
std::string clientRequest(int first, size_t length = 48, int tag = 1);
Kovan::SntpTime timeAt(const std::string& datagram, size_t offset);
// Bound to, or connected to, `address`:`port`; -1 when that fails.
int udpSocket(const char* address, int port, bool connected);
// The next datagram (and who sent it), or "" when nothing came within `timeoutMs`.
std::string receiveWithin(int fd, int timeoutMs, sockaddr_in* from = nullptr);
std::string rawQuery(int port, const std::string& request, int timeoutMs);
// What `action` returns, run while no descriptor may be opened.
bool withoutDescriptors(const std::function<bool()>& action);
// The program's next send() fails with `errnoValue` (it links with -Wl,--wrap=send).
void failNextSend(int errnoValue);

// A UDP server on 127.0.0.1 sending the datagrams `script` makes of each request, in order.
class ScriptedServer {
public:
    using Script = std::function<std::vector<std::string>(const std::string& request)>;
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    int port() const { return _port; }
    int requests() const { return _requests; }
    // A server reply: the leap bits, the stratum, org echoed from the request, rec and xmt, the
    // reference time a second before rec.
    static std::string reply(const std::string& request, Kovan::SntpTime rec, Kovan::SntpTime xmt,
        int stratum = 2, int leap = 0);

private:
    Script _script;
    int _fd, _port = 0;
    std::atomic<bool> _stop { false };
    std::atomic<int> _requests { 0 };
    std::thread _thread;
};

} // namespace SntpTest
