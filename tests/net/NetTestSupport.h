// Descriptor accounting, a private network namespace and socket error checks for the net tests.
#pragma once

#include "net/NetworkChannel.h"
#include "net/SocketException.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace KovanTest {

inline int openDescriptorCount()
{
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd)
        count += fcntl(fd, F_GETFD) != -1;
    return count;
}

struct ScopedFd {
    int fd;
    ~ScopedFd() { close(fd); } // -1 included: that close fails and does nothing
    operator int() const { return fd; }
};
struct Closer {
    Kovan::NetworkChannel& channel;
    ~Closer() { channel.close(); }
};

// Runs `body` on a thread that first moves into a fresh network namespace with only loopback, up:
// nothing sent there leaves the machine and a lookup of an unknown name fails at once. (A
// namespace belongs to the thread that unshares, so the test's own thread keeps the machine's.)
inline void runInPrivateNetwork(const std::function<void()>& body)
{
    std::thread worker([&body] {
        ASSERT_EQ(0, unshare(CLONE_NEWNET)) << "the tests need root: " << strerror(errno);
        ScopedFd fd { socket(AF_INET, SOCK_DGRAM, 0) };
        ifreq request {};
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

// `f` throws SocketException with `code` and `message` (by default the system's text).
inline void expectSocketError(
    int code, const std::function<void()>& f, const char* message = nullptr)
{
    try {
        f();
        ADD_FAILURE() << "no SocketException, expected " << code;
    } catch (const Kovan::SocketException& e) {
        EXPECT_EQ(code, e.errorCode());
        EXPECT_STREQ(message ? message : strerror(code), e.message());
    }
}

inline int boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Every networking test checks that it closed whatever it opened.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override { _descriptors = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(_descriptors, openDescriptorCount()) << "leaked"; }

private:
    int _descriptors = 0;
};

} // namespace KovanTest
