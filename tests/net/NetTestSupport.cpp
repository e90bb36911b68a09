#include "NetTestSupport.h"

#include "net/SocketException.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace KovanTest {

int openDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count;
}

void ScopedFd::reset(int fd)
{
    if (_fd >= 0)
        close(_fd);
    _fd = fd;
}

int boundPort(int fd)
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}

namespace {

// The same as `ip link set lo up`, without needing the command.
bool bringLoopbackUp(std::string* why)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        *why = std::string("socket: ") + strerror(errno);
        return false;
    }
    ifreq request;
    memset(&request, 0, sizeof(request));
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok)
        *why = std::string("bringing lo up: ") + strerror(errno);
    close(fd);
    return ok;
}

} // namespace

void runInPrivateNetwork(const std::function<void()>& body)
{
    // Namespaces belong to the thread that unshares, so the test's own thread keeps the machine's
    // network and the namespace disappears when this thread ends.
    std::thread worker([&body] {
        if (unshare(CLONE_NEWNET) != 0) {
            ADD_FAILURE() << "unshare(CLONE_NEWNET) failed (the tests need root): "
                          << strerror(errno);
            return;
        }
        std::string why;
        if (!bringLoopbackUp(&why)) {
            ADD_FAILURE() << why;
            return;
        }
        try {
            body();
        } catch (const Kovan::SocketException& e) {
            ADD_FAILURE() << "SocketException " << e.errorCode() << " \"" << e.message()
                          << "\" left the body run in the private network";
        } catch (...) {
            ADD_FAILURE() << "an exception left the body run in the private network";
        }
    });
    worker.join();
}

} // namespace KovanTest
