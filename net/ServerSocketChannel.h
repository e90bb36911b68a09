// A listening TCP channel: binds a port on every local address, listens, and hands each accepted
// connection to a SocketChannel the caller supplies. Destroying it does not close its descriptor.
#pragma once

#include "net/NetworkChannel.h"
#include "net/SocketAddress.h"
#include "net/SocketChannel.h"

#include <netinet/in.h>

namespace Kovan {

class ServerSocketChannel : public NetworkChannel {
public:
    ServerSocketChannel();
    ~ServerSocketChannel() override;

    // Binds the wildcard address and `port` (0: the system chooses, and localAddress() reports
    // the port chosen), then listens. A failed bind leaves the channel unbound; a failed listen
    // leaves it bound with its address set.
    void bind(short port, int backlog);
    // Hands the next connection to `socket`, which closes whatever it had. Before bind() this
    // throws SocketException(0, "Socket is not bound yet").
    void accept(SocketChannel* socket);
    bool isBound() const { return _bound; }

    void setReuseAddress(bool on);
    bool getReuseAddress() const;

    // The machine's host name, "0.0.0.0" and the bound port; unresolved until bound.
    const SocketAddress* localAddress() const { return &_address; }

protected:
    SOCKET_FD implOpen() override;
    void implClose() override;
    // The system's accept; its result as given, no exception.
    virtual SOCKET_FD implAccept(sockaddr_in* addr);

private:
    ServerSocketChannel(const ServerSocketChannel&);

    SocketAddress _address;
    bool _bound;
};

} // namespace Kovan
