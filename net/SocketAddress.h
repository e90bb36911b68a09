// An IPv4 endpoint value: dotted host address, host name, port and whether it holds an address at
// all. A plain value, copied member by member.
#pragma once

#include "foundation/Types.h"

#include <netinet/in.h>

namespace Kovan {

class SocketAddress {
public:
    enum { HOST_NAME_SIZE = 51, HOST_ADDRESS_SIZE = 16 };

    // Unresolved, port 0. Constant-initialised, so the process-wide local address is usable even
    // from other objects' static initialisation.
    constexpr SocketAddress() noexcept
        : _hostName {}
        , _hostAddress {}
        , _port(0)
        , _unresolved(true)
    {
    }
    // A name that does not resolve leaves the address unresolved (port 0).
    SocketAddress(const char* addr, short port);

    // Port 0, empty texts, unresolved.
    void release();

    bool isUnresolved() const { return _unresolved; }
    // Null while unresolved.
    const char* hostAddress() const { return _unresolved ? nullptr : _hostAddress; }
    // Null while unresolved; empty when set from a literal, "Unknown" when set from the system.
    const char* hostName() const { return _unresolved ? nullptr : _hostName; }
    // Host byte order. Ports above 32767 read as negative; the bits are kept.
    short port() const { return _port; }

    // A dotted literal is stored as given (cut at 15 characters); a name is looked up and its
    // first address stored. A failed lookup changes nothing and reports nothing: test
    // isUnresolved(). The host name is left as it was.
    void setAddress(const char* addr, short port);
    // Takes an address the system returned (accept, recvfrom, getsockname, getpeername). No
    // reverse lookup: the host name becomes "Unknown".
    void setAddress(const sockaddr_in* addr);
    // The machine's host name, "0.0.0.0" and `port`. Throws SocketException when the host name
    // cannot be read.
    void setAsLocalAddress(short port);

    // The process-wide local address: the machine's host name, "0.0.0.0", port 0. Filled on first
    // use; a failure to read the host name throws SocketException and the next call tries again.
    static const SocketAddress* localAddress();

private:
    char _hostName[HOST_NAME_SIZE];
    char _hostAddress[HOST_ADDRESS_SIZE];
    short _port;
    bool _unresolved;

    static SocketAddress _localAddress;
};

} // namespace Kovan
