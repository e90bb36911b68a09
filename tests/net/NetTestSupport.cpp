#include "NetTestSupport.h"

#include "net/SocketException.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace KovanTest {

int openDescriptorCount()
{
    DIR* dir = opendir("/proc/self/fd");
    int count = 0;
    while (dirent* entry = dir ? readdir(dir) : nullptr)
        count += entry->d_name[0] != '.';
    if (dir)
        closedir(dir);
    return count;
}

void runInPrivateNetwork(const std::function<void()>& body)
{
    // A namespace belongs to the thread that unshares: the test's own thread keeps the machine's
    // network, and the namespace goes when this thread ends.
    std::thread worker([&body] {
        ASSERT_EQ(0, unshare(CLONE_NEWNET)) << "the tests need root: " << strerror(errno);
        // `ip link set lo up`, without needing the command.
        ScopedFd fd { socket(AF_INET, SOCK_DGRAM, 0) };
        ifreq request;
        memset(&request, 0, sizeof(request));
        strcpy(request.ifr_name, "lo");
        ASSERT_EQ(0, ioctl(fd, SIOCGIFFLAGS, &request)) << strerror(errno);
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        ASSERT_EQ(0, ioctl(fd, SIOCSIFFLAGS, &request)) << strerror(errno);
        try {
            body();
        } catch (const Kovan::SocketException& e) {
            ADD_FAILURE() << "SocketException " << e.errorCode() << " " << e.message();
        }
    });
    worker.join();
}

void expectSocketError(int code, const std::function<void()>& f, const char* message)
{
    try {
        f();
        ADD_FAILURE() << "no SocketException";
    } catch (const Kovan::SocketException& e) {
        EXPECT_EQ(code, e.errorCode());
        EXPECT_STREQ(message ? message : strerror(code), e.message());
    }
}

int boundPort(int fd)
{
    sockaddr_in address;
    socklen_t length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin_port);
}

ScopedFd::~ScopedFd()
{
    if (fd >= 0)
        close(fd);
}

} // namespace KovanTest
