// A TCP channel: connect, or adopt a connection a server channel accepted, then read and write
// ByteBuffers. Every system call goes through a virtual hook, so the non-blocking variant changes
// only what differs. Used by one thread at a time.
#pragma once

#include "net/ByteBuffer.h"
#include "net/NetworkChannel.h"
#include "net/SocketAddress.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace Kovan {

class SocketChannel : public NetworkChannel {
public:
    SocketChannel();
    ~SocketChannel() override;

    // Connects the open channel to a resolved endpoint (its dotted address; no name lookup
    // here). A refused or failed connect writes "Socket Error: %d\n" and throws SocketException;
    // an unresolved endpoint throws EDESTADDRREQ. On success both addresses are known.
    bool connect(const SocketAddress* endpoint);

    // Reads into the buffer's room between position and limit and moves the position by the
    // count: 0 at end of stream, -1 on error (buffer untouched, errno left for the caller).
    int read(ByteBuffer* buf);
    // Writes the bytes between position and limit and moves the position by the count sent,
    // which may be fewer; -1 on error.
    int write(ByteBuffer* buf);

    // Asked of the system while unknown; never throws: what the system cannot tell stays
    // unresolved.
    const SocketAddress* localAddress();
    const SocketAddress* remoteAddress();

    // Whether the last connect succeeded; adopting an accepted connection does not change it.
    bool isConnected() const { return _connected; }

protected:
    SOCKET_FD implOpen() override;
    void implClose() override;
    // Declared before accepted() and shutdownOutput(): the virtual slots follow this order.
    virtual bool implConnect(SOCKET_FD sockfd, const sockaddr* addr, int addrlen);
    virtual int implRead(SOCKET_FD sockfd, void* buff, int nbytes);
    virtual int implWrite(SOCKET_FD sockfd, void* buff, int nbytes);

public:
    // Adopts a descriptor from a server channel: whatever the channel had is closed first. The
    // peer is the address accept reported, not asked again.
    virtual void accepted(SOCKET_FD sockfd, const sockaddr_in* addr);
    // Shuts the sending direction; the peer reads end of stream.
    virtual void shutdownOutput();

private:
    // The local end from the system, the remote end as given.
    void resolveLocalAndRemoteAddresses(const sockaddr_in* remoteAddr);

    // Completing a background connect fills the same state a connect that succeeded at once does.
    friend class NonBlockingSocketChannel;

    SocketAddress _remoteAddr;
    SocketAddress _localAddr;
    bool _connected;
};

} // namespace Kovan
