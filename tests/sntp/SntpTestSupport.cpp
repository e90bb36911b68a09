#include "sntp/SntpTestSupport.h"

#include "support/PrivateNetwork.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SntpTest {

namespace {

// Entered before main, so every thread and child of the program starts inside it.
const std::string networkError = KovanTest::enterPrivateNetwork();

std::atomic<int> sendError { 0 };

} // namespace

void NetworkTest::SetUp() { ASSERT_EQ("", networkError); }

bool eventually(const std::function<bool()>& condition, int timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    while (!condition() && msSince(start) < timeoutMs)
        std::this_thread::yield();
    return condition();
}

int openDescriptors()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

sockaddr_in loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::string clientRequest(int first, size_t length, int tag)
{
    std::string bytes(std::max<size_t>(length, 48), '\0');
    bytes[0] = static_cast<char>(first);
    bytes[2] = static_cast<char>(6 + tag);
    bytes.replace(40, 8, std::string("\xEA\1\2\3\4\5\6", 7) + static_cast<char>(tag));
    return bytes.substr(0, length);
}

Kovan::SntpTime timeAt(const std::string& datagram, size_t offset)
{
    Kovan::SntpTimePacket packet;
    memcpy(&packet, datagram.data() + offset, sizeof(packet));
    return packet;
}

int udpSocket(const char* address, int port, bool connected)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (0 == (connected ? connect : bind)(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)))
        return fd;
    close(fd);
    return -1;
}

std::string receiveWithin(int fd, int timeoutMs, sockaddr_in* from)
{
    pollfd p = { fd, POLLIN, 0 };
    char buffer[2048];
    socklen_t length = sizeof(*from);
    const ssize_t n = poll(&p, 1, timeoutMs) > 0
        ? recvfrom(fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(from), &length)
        : -1;
    return n >= 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void failNextSend(int errnoValue) { sendError = errnoValue; }

bool withoutDescriptors(const std::function<bool()>& action)
{
    rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t soft = std::exchange(limit.rlim_cur, 0);
    setrlimit(RLIMIT_NOFILE, &limit);
    const bool result = action();
    limit.rlim_cur = soft;
    setrlimit(RLIMIT_NOFILE, &limit);
    return result;
}

std::string rawQuery(int port, const std::string& request, int timeoutMs)
{
    const int fd = udpSocket("127.0.0.1", port, true);
    std::string reply;
    if (send(fd, request.data(), request.size(), 0) >= 0)
        reply = receiveWithin(fd, timeoutMs);
    close(fd);
    return reply;
}

ScriptedServer::ScriptedServer(Script script)
    : _script(std::move(script))
    , _fd(udpSocket("127.0.0.1", 0, false))
{
    sockaddr_in address = {};
    socklen_t length = sizeof(address);
    getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
    _thread = std::thread([this] {
        while (!_stop) {
            sockaddr_in from = {};
            const std::string request = receiveWithin(_fd, 20, &from);
            if (request.empty())
                continue;
            ++_requests;
            for (const std::string& answer : _script(request))
                sendto(_fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                    sizeof(from));
        }
    });
}

ScriptedServer::~ScriptedServer()
{
    _stop = true;
    _thread.join();
    close(_fd);
}

std::string ScriptedServer::reply(
    const std::string& request, Kovan::SntpTime rec, Kovan::SntpTime xmt, int stratum, int leap)
{
    Kovan::SntpFullPacket packet;
    memset(&packet, 0, sizeof(packet));
    packet.basic.li_vn_mode = static_cast<Kovan::uint8>((leap << 6) | 0x1C);
    packet.basic.stratum = static_cast<Kovan::uint8>(stratum);
    if (request.size() >= 48)
        packet.basic.org = timeAt(request, 40);
    packet.basic.reftime = rec + -1.0; // a clock set a second before it took the request in
    packet.basic.rec = rec;
    packet.basic.xmt = xmt;
    return std::string(reinterpret_cast<const char*>(&packet), sizeof(packet));
}

} // namespace SntpTest

extern "C" {
ssize_t __real_send(int fd, const void* data, size_t size, int flags);
ssize_t __wrap_send(int fd, const void* data, size_t size, int flags)
{
    if (const int error = SntpTest::sendError.exchange(0)) {
        errno = error;
        return -1;
    }
    return __real_send(fd, data, size, flags);
}
}
