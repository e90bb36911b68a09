// The BSD socket interface over IPv4 as the networking library and the SNTP service share it,
// with the address and name helpers of net/Inet4.h beside it; only the channels make a few calls
// of their own, mostly where they read a failure as a result rather than an exception. Static
// operations: each makes one system call (plus a name lookup where a host name is given) and
// turns a failure into a SocketException carrying errno and its text. Nothing is retried and no
// error number is tolerated here; the non-blocking channels decide what an operation in progress or
// one that would block means, by comparing errorCode() with the constants below.
#pragma once

#include "foundation/Types.h"
#include "net/SocketException.h"

#include <ctime>
#include <netinet/in.h>

namespace Kovan {

class SocketAddress;

// A descriptor of the operating system.
typedef int SOCKET_FD;

class SocketApiWrapper {
public:
    static constexpr int CONNECT_IN_PROGRESS = 115; // EINPROGRESS
    static constexpr int WOULD_BLOCK = 11; // EAGAIN
    static constexpr int INVALID_FD = -1;
    static constexpr int RETURN_ERROR = -1;

    static void cleanup();

    // The calling thread's errno.
    static int errorCode();

    // A failed creation is not an exception: the result is INVALID_FD and the caller tests it
    // with isInvalidFd.
    static SOCKET_FD createStreamSocket();
    static SOCKET_FD createDatagramSocket();

    static void closeSocket(SOCKET_FD sockfd);
    // Clears (block) or sets O_NONBLOCK, keeping every other status flag.
    static void configureBlocking(SOCKET_FD sockfd, bool block);

    // No loop: the result may be fewer than nbytes.
    static int send(SOCKET_FD sockfd, const void* buff, int nbytes);
    // 0 when the peer has shut down its sending side.
    static int recv(SOCKET_FD sockfd, void* buff, int nbytes);
    // An unresolved address sends to 255.255.255.255 at its port; a host name that does not
    // resolve throws the resolver's error before anything is sent.
    static int sendTo(SOCKET_FD sockfd, const void* buff, int nbytes, const SocketAddress& address);
    // On success the sender is stored in `address`.
    static int recvFrom(SOCKET_FD sockfd, void* buff, int nbytes, SocketAddress& address);
    // The same two with the system's own address form, for datagram services that answer many
    // peers and have no use for the text: `source` is zeroed first and filled on success.
    static int sendTo(SOCKET_FD sockfd, const void* buff, int nbytes, const sockaddr_in& address);
    static int recvFrom(SOCKET_FD sockfd, void* buff, int nbytes, sockaddr_in* source);
    // The same, with the kernel's receive time of the datagram in `arrival` when the socket has
    // SO_TIMESTAMPNS on (recvmsg); all zero when the kernel gave none.
    static int recvFrom(
        SOCKET_FD sockfd, void* buff, int nbytes, sockaddr_in* source, timespec* arrival);

    // `address` is a dotted IPv4 literal or a host name. A non-blocking connect that is still in
    // progress throws too (errorCode() CONNECT_IN_PROGRESS).
    static void connect(SOCKET_FD sockfd, const char* address, int port);
    // An unresolved address throws EDESTADDRREQ without touching the socket.
    static void connect(SOCKET_FD sockfd, const SocketAddress& address);
    // An address already in the system's form, of `length` bytes.
    static void connect(SOCKET_FD sockfd, const sockaddr* address, int length);
    // On success the peer is stored in `address`.
    static SOCKET_FD accept(SOCKET_FD sockfd, SocketAddress& address);
    static void listen(SOCKET_FD sockfd, int backlog);
    // The wildcard address and the given port (0: the system chooses).
    static void bind(SOCKET_FD sockfd, short port);
    static void bind(SOCKET_FD sockfd, const sockaddr_in& address);
    // setsockopt with an int value.
    static void setOption(SOCKET_FD sockfd, int level, int name, int value);
    static void getSocketName(SOCKET_FD sockfd, sockaddr_in* addr);
    static void getPeerName(SOCKET_FD sockfd, sockaddr_in* addr);

    static bool isInvalidFd(SOCKET_FD sockfd) { return sockfd < 0; }

    // Waits until the socket is readable (or writable) or `timeoutMs` milliseconds have passed;
    // a negative limit waits without one, 0 polls once. True when ready, false on time-out.
    // select() needs a descriptor in 0..FD_SETSIZE-1: others throw EBADF before any wait.
    static bool waitReadable(SOCKET_FD sockfd, int timeoutMs);
    static bool waitWritable(SOCKET_FD sockfd, int timeoutMs);
    // The socket's pending error (SO_ERROR), cleared by reading it: how a background connect
    // that has become writable tells success (0) from failure.
    static int pendingError(SOCKET_FD sockfd);

    // The process-wide flag set by the first socket created; it guards nothing on this platform.
    static bool isInitialized() { return _initialized; }

private:
    SocketApiWrapper();
    ~SocketApiWrapper();

    static void initialize();
    static bool waitFor(SOCKET_FD sockfd, int timeoutMs, bool forWriting);

    static bool _initialized;
};

} // namespace Kovan
