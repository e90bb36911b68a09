// A TCP channel whose socket is non-blocking. A connect still in progress is a normal outcome:
// connect() returns false, and finishConnect() tells when the connection has been made.
#pragma once

#include "net/SocketChannel.h"

namespace Kovan {

class NonBlockingSocketChannel : public SocketChannel {
public:
    NonBlockingSocketChannel();

    // After connect() returned false: waits up to `timeoutMs` milliseconds (0 polls, negative
    // waits without limit) for the background connect to end. True once connected (then both
    // addresses are known); false while it is still going on; a connect that failed throws
    // SocketException with its error (ECONNREFUSED, ETIMEDOUT, ...).
    bool finishConnect(int timeoutMs = 0);

    // Switched to non-blocking after adopting the descriptor.
    void accepted(SOCKET_FD sockfd, const sockaddr_in* addr) override;

protected:
    SOCKET_FD implOpen() override;
    // In progress gives false; any other failure throws SocketException, without a trace line.
    bool implConnect(SOCKET_FD sockfd, const sockaddr* addr, int addrlen) override;

    // The socket has become writable after a background connect: takes its outcome. Success
    // marks the channel connected and fills both addresses as an immediate connect does;
    // failure throws SocketException with the socket's pending error.
    void notifyConnected();
};

} // namespace Kovan
