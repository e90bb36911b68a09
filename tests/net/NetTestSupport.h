// Helpers shared by the networking tests: descriptor accounting, a private network namespace for
// the cases that must not touch the machine's own network, and socket error checks.
#pragma once

#include "net/NetworkChannel.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>

namespace KovanTest {

// Entries in /proc/self/fd (the directory's own descriptor included, the same every time).
int openDescriptorCount();

// Runs `body` on a thread of its own that first moves into a fresh network namespace holding
// only a loopback interface, brought up. Nothing sent there can leave the machine, a listen
// backlog can be filled without disturbing anyone, and the resolver has no route to any server,
// so a lookup of an unknown name fails at once.
void runInPrivateNetwork(const std::function<void()>& body);

// `f` throws SocketException with `code` and `message` (by default the system's text).
void expectSocketError(int code, const std::function<void()>& f, const char* message = nullptr);

// The port (host order) a socket is bound to.
int boundPort(int fd);

// Closes a descriptor or a channel when the test leaves, whichever way it leaves.
struct ScopedFd {
    int fd;
    ~ScopedFd();
    operator int() const { return fd; }
};
struct Closer {
    Kovan::NetworkChannel& channel;
    ~Closer() { channel.close(); }
};

// Every test of the networking library checks that it closed whatever it opened.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override { _descriptors = openDescriptorCount(); }
    void TearDown() override { EXPECT_EQ(_descriptors, openDescriptorCount()) << "leaked"; }

private:
    int _descriptors = 0;
};

} // namespace KovanTest
