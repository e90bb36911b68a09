// The SNTP service's own owner of one UDP socket: created, connected, used for one request and
// reply, and closed, once per query. Low layer: results are bool or counts, except that the
// wrapper's SocketException from a failed send or close passes through.
//
// Thread safety: none of its own; one thread at a time uses an object (SntpClient takes turns
// with a lock around it).
#pragma once

#include "foundation/Types.h"
#include "net/SocketApiWrapper.h"

#include <sys/socket.h>

namespace Kovan {

class SntpSocket {
public:
    SntpSocket();
    // Closes the socket; a SocketException from that close is swallowed here, since a
    // destructor has nobody to hand it to.
    ~SntpSocket();
    SntpSocket(const SntpSocket&) = delete;
    SntpSocket& operator=(const SntpSocket&) = delete;

    // Platform hooks of the socket layer; nothing to do on Linux.
    static bool init();
    static void cleanup();

    // A descriptor already held is not closed first.
    bool createSocket();
    // Binds to the wildcard address; the result of bind is not reported.
    void bindSocket(short port);
    // `hostAddress` is a dotted IPv4 address or a host name (first address of the lookup).
    bool connectSocket(const char* hostAddress, int32 port);
    // False only when the wrapper returns -1; its SocketException passes through.
    bool sendSocket(char* buf, int32 bufCount);
    // The received count, or 0 when the receive failed in any way (as for an empty datagram).
    int32 receiveSocket(char* buf, int32 bufCount);
    // Closes once; a SocketException passes through and the descriptor is then kept.
    void closeSocket();
    // Waits up to `out` milliseconds. False when select failed (and *readable is untouched);
    // otherwise true, with *readable false on a time-out. A descriptor that select() cannot
    // watch (none, or 1024 and above) counts as a failed select.
    bool isReadable(bool* readable, uint32 out);

    SOCKET_FD fd() const { return _socketFd; }

protected:
    bool connectSocket(const sockaddr* sockAddr, int32 sockAddrLen);

private:
    SOCKET_FD _socketFd;
};

} // namespace Kovan
