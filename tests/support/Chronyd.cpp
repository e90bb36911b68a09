#include "support/Chronyd.h"

#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace KovanTest {

namespace {

// Whether a client request sent to 127.0.0.1:123 is answered within `timeoutMs`.
bool answers(int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(123);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    char request[48] = { 0x23 }, reply[128]; // version 4, client
    pollfd p = { fd, POLLIN, 0 };
    const bool answered = 0 == connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address))
        && send(fd, request, sizeof(request), 0) == static_cast<ssize_t>(sizeof(request))
        && poll(&p, 1, timeoutMs) > 0 && recv(fd, reply, sizeof(reply), 0) >= 48;
    close(fd);
    return answered;
}

} // namespace

Chronyd::Chronyd()
{
    char pattern[] = "/tmp/kovan-chronyd-XXXXXX";
    _dir = mkdtemp(pattern) != nullptr ? pattern : throw std::runtime_error("mkdtemp failed");
    ChildOptions options;
    options.output = options.errors = _dir + "/log";
    // The pid file in our folder: chronyd drops to its own user and cannot remove it itself.
    _process.reset(new ChildProcess({ "chronyd", "-x", "-d", "local stratum 10", "allow 127.0.0.1",
                                        "cmdport 0", "pidfile " + _dir + "/pid" },
        options));
    // Bounded by attempts; a refused request fails at once, so each also waits for an exit.
    for (int attempt = 0; attempt < 300 && !_ready && !_process->wait(50, &_status); ++attempt)
        _ready = answers(100);
    _status = _process->wait(0, &_status) ? _status : -1;
}

Chronyd::~Chronyd()
{
    _process.reset();
    std::error_code ignored;
    std::filesystem::remove_all(_dir, ignored);
}

std::string Chronyd::log() const
{
    std::ifstream in(_dir + "/log");
    return "exit " + std::to_string(_status) + ": "
        + std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace KovanTest
