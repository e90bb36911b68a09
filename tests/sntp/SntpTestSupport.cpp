#include "SntpTestSupport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace SntpTest {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool bringLoopbackUp(std::string* why)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + strerror(errno);
        return false;
    }
    ifreq request;
    memset(&request, 0, sizeof(request));
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = 0 == ioctl(fd, SIOCGIFFLAGS, &request);
    if (ok) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = 0 == ioctl(fd, SIOCSIFFLAGS, &request);
    }
    if (!ok)
        *why = std::string("bringing lo up: ") + strerror(errno);
    close(fd);
    return ok;
}

struct PrivateNetwork {
    bool ok = false;
    std::string why;
    PrivateNetwork()
    {
        // Before main, so every thread and child of the program starts inside it.
        if (0 != unshare(CLONE_NEWNET)) {
            why = std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
            return;
        }
        ok = bringLoopbackUp(&why);
    }
};

PrivateNetwork& privateNetwork()
{
    static PrivateNetwork network;
    return network;
}

// Made during static initialisation, on the main thread.
const bool networkMade = privateNetwork().ok;

sockaddr_in loopback(int port)
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

bool inPrivateNetwork(std::string* why)
{
    (void)networkMade;
    if (why)
        *why = privateNetwork().why;
    return privateNetwork().ok;
}

ScriptedServer::ScriptedServer(ReplyScript script, int port)
    : _script(std::move(script))
    , _fd(socket(AF_INET, SOCK_DGRAM, 0))
    , _port(0)
    , _stop(false)
    , _requests(0)
{
    const int one = 1;
    setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in address = loopback(port);
    if (0 != bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)))
        ADD_FAILURE() << "scripted server cannot bind: " << strerror(errno);
    socklen_t length = sizeof(address);
    getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
    _thread = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer()
{
    _stop = true;
    _thread.join();
    close(_fd);
}

std::vector<std::string> ScriptedServer::received()
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _received;
}

void ScriptedServer::serve()
{
    while (!_stop) {
        pollfd p = { _fd, POLLIN, 0 };
        if (poll(&p, 1, 20) <= 0)
            continue;
        char buffer[512];
        sockaddr_in from;
        socklen_t length = sizeof(from);
        const ssize_t n
            = recvfrom(_fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0)
            continue;
        const Kovan::SntpTime arrival = Kovan::SntpTime::currentTime();
        const std::string request(buffer, static_cast<size_t>(n));
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _received.push_back(request);
        }
        const std::string answer = _script(request, arrival);
        ++_requests;
        if (!answer.empty())
            sendto(
                _fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    }
}

std::string ScriptedServer::reply(
    const std::string& request, Kovan::SntpTime rec, Kovan::SntpTime xmt, int stratum, int leap)
{
    Kovan::SntpFullPacket packet;
    memset(&packet, 0, sizeof(packet));
    packet.basic.li_vn_mode = static_cast<Kovan::uint8>((leap << 6) | 0x1C);
    packet.basic.stratum = static_cast<Kovan::uint8>(stratum);
    if (request.size() >= 48)
        memcpy(&packet.basic.org, request.data() + 40, 8);
    packet.basic.rec = rec;
    packet.basic.xmt = xmt;
    return std::string(reinterpret_cast<const char*>(&packet), sizeof(packet));
}

TempDir::TempDir()
{
    char name[] = "/tmp/kovan-sntp-XXXXXX";
    if (nullptr == mkdtemp(name))
        ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    _path = name;
    // chronyd drops to its own user and still writes its files here.
    chmod(name, 0777);
}

TempDir::~TempDir()
{
    const std::string command = "rm -rf '" + _path + "'";
    if (0 != system(command.c_str()))
        ADD_FAILURE() << "could not remove " << _path;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : _pid(-1)
    , _outFd(-1)
    , _errFd(-1)
    , _exited(false)
    , _status(0)
{
    int out[2], err[2];
    if (0 != pipe2(out, O_CLOEXEC) || 0 != pipe2(err, O_CLOEXEC)) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return;
    }
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.push_back(*e);
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    _pid = fork();
    if (0 == _pid) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    _outFd = out[0];
    _errFd = err[0];
    if (_pid < 0)
        ADD_FAILURE() << "fork: " << strerror(errno);
}

Child::~Child()
{
    stop();
    if (_outFd >= 0)
        close(_outFd);
    if (_errFd >= 0)
        close(_errFd);
}

void Child::pump(int timeoutMs)
{
    pollfd p[2] = { { _outFd, POLLIN, 0 }, { _errFd, POLLIN, 0 } };
    if (poll(p, 2, timeoutMs) <= 0)
        return;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = read(p[i].fd, buffer, sizeof(buffer));
        if (n > 0)
            (i ? _err : _out).append(buffer, static_cast<size_t>(n));
        else if (0 == n) {
            close(p[i].fd);
            (i ? _errFd : _outFd) = -1;
        }
    }
}

bool Child::waitForOutput(const std::function<bool(const std::string&)>& done, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(_out)) {
        if (Clock::now() >= deadline || (_outFd < 0 && _errFd < 0))
            return done(_out);
        pump(std::min(msLeft(deadline), 100));
    }
    return true;
}

bool Child::wait(int timeoutMs, int* exitStatus)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!_exited) {
        if (_pid <= 0)
            return false;
        if (waitpid(_pid, &_status, WNOHANG) == _pid) {
            _exited = true;
            break;
        }
        if (Clock::now() >= deadline)
            return false;
        pump(std::min(msLeft(deadline), 50));
    }
    // Whatever is still in the pipes, for a bounded time (a grandchild could hold them open).
    const auto drainDeadline = Clock::now() + std::chrono::milliseconds(500);
    while ((_outFd >= 0 || _errFd >= 0) && Clock::now() < drainDeadline)
        pump(50);
    if (exitStatus)
        *exitStatus = WIFEXITED(_status) ? WEXITSTATUS(_status) : 128 + WTERMSIG(_status);
    return true;
}

void Child::stop()
{
    if (_pid <= 0 || _exited)
        return;
    kill(_pid, SIGTERM);
    if (!wait(1000, nullptr)) {
        kill(_pid, SIGKILL);
        wait(5000, nullptr);
    }
}

std::string clientRequest(Kovan::SntpTime xmt)
{
    Kovan::SntpBasicInfo request;
    memset(&request, 0, sizeof(request));
    request.li_vn_mode = Kovan::SNTP_CLIENT_LI_VN_MODE;
    request.xmt = xmt;
    return std::string(reinterpret_cast<const char*>(&request), sizeof(request));
}

std::string rawQuery(int port, const std::string& request, int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopback(port);
    std::string answer;
    if (0 == connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address))
        && send(fd, request.data(), request.size(), 0) >= 0) {
        pollfd p = { fd, POLLIN, 0 };
        if (poll(&p, 1, timeoutMs) > 0) {
            char buffer[512];
            const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n > 0)
                answer.assign(buffer, static_cast<size_t>(n));
        }
    }
    close(fd);
    return answer;
}

Chronyd::Chronyd()
    : _ready(false)
{
    const std::string conf = _dir.path() + "/chrony.conf";
    FILE* f = fopen(conf.c_str(), "w");
    if (!f) {
        ADD_FAILURE() << "cannot write " << conf;
        return;
    }
    // A local server only: no upstream, no control port, files kept in the folder.
    fprintf(f,
        "local stratum 10\nallow 127.0.0.1\ncmdport 0\npidfile %s/chronyd.pid\n"
        "driftfile %s/chrony.drift\n",
        _dir.path().c_str(), _dir.path().c_str());
    fclose(f);
    _child.reset(new Child({ "chronyd", "-x", "-d", "-f", conf }));

    // Bounded poll: chronyd answers within a second or two of starting.
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline) {
        if (!rawQuery(123, clientRequest(Kovan::SntpTime::currentTime()), 200).empty()) {
            _ready = true;
            return;
        }
        int status;
        if (_child->wait(50, &status)) {
            ADD_FAILURE() << "chronyd exited with " << status << ": " << _child->err();
            return;
        }
    }
    ADD_FAILURE() << "chronyd did not answer within 15 s: " << _child->err();
}

Chronyd::~Chronyd() { stop(); }

void Chronyd::stop()
{
    if (_child)
        _child->stop();
    _ready = false;
}

} // namespace SntpTest
