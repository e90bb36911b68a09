// Descriptor accounting and socket error checks for the net tests.
#pragma once

#include "support/PrivateNetwork.h"

#include "net/Inet4.h"
#include "net/NetworkChannel.h"
#include "net/SocketAddress.h"
#include "net/SocketException.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace KovanTest {

struct ScopedFd {
    int fd;
    ~ScopedFd() { close(fd); } // -1 included: that close fails and does nothing
    operator int() const { return fd; }
};

// `f` throws SocketException with `code` and `message` (by default the system's text).
inline void expectSocketError(
    int code, const std::function<void()>& f, const char* message = nullptr)
try {
    f();
    ADD_FAILURE() << "no SocketException, expected " << code;
} catch (const Kovan::SocketException& e) {
    EXPECT_EQ(code, e.errorCode());
    EXPECT_STREQ(message ? message : strerror(code), e.message());
}

inline int boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Every networking test runs in a network namespace of the program's own, loopback only (nothing
// sent leaves the machine, an unknown name fails at once), and closes whatever it opened.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const std::string networkError = enterPrivateNetwork(); // before any thread
        ASSERT_EQ("", networkError) << "the tests need root";
        _descriptors = openDescriptors();
    }
    void TearDown() override { EXPECT_EQ(_descriptors, openDescriptors()) << "leaked"; }
    static long openDescriptors()
    {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    }
    long _descriptors = 0;
};

} // namespace KovanTest

using namespace Kovan;
using namespace KovanTest;
using namespace std::chrono;
typedef SocketApiWrapper W;
