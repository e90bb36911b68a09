// Helpers shared by the networking tests: descriptor accounting and a private network namespace
// for the cases that must not touch the machine's own network.
#pragma once

#include <functional>
#include <gtest/gtest.h>

namespace KovanTest {

// Entries in /proc/self/fd (the directory's own descriptor included, the same every time).
int openDescriptorCount();

// Runs `body` on a thread of its own that first moves into a fresh network namespace holding only
// a loopback interface, brought up. Nothing the body sends can leave the machine, a listen backlog
// can be filled without disturbing anyone, and the resolver finds no server (no route), so a
// lookup of an unknown name fails at once. Failures inside the body are reported as usual.
void runInPrivateNetwork(const std::function<void()>& body);

// Closes its descriptor when the test leaves, whichever way it leaves.
class ScopedFd {
public:
    explicit ScopedFd(int fd = -1)
        : _fd(fd)
    {
    }
    ~ScopedFd() { reset(); }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const { return _fd; }
    operator int() const { return _fd; }
    // Forgets the descriptor without closing it (the code under test closed it).
    int release()
    {
        int fd = _fd;
        _fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int _fd;
};

// The port (host order, 0..65535) a socket is bound to.
int boundPort(int fd);

// Every test of the networking library checks that it closed whatever it opened.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override { _descriptorsBefore = openDescriptorCount(); }
    void TearDown() override
    {
        EXPECT_EQ(_descriptorsBefore, openDescriptorCount()) << "a descriptor was leaked";
    }

private:
    int _descriptorsBefore = 0;
};

} // namespace KovanTest
