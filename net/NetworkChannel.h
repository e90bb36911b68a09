// The owner of one socket descriptor. Each kind of channel makes its socket in implOpen() and
// tidies its own state in implClose(). Destroying a channel does not close its descriptor: the
// owner calls close() first.
#pragma once

#include "net/SocketApiWrapper.h"

namespace Kovan {

class NetworkChannel {
public:
    NetworkChannel(const NetworkChannel&) = delete;
    NetworkChannel& operator=(const NetworkChannel&) = delete;

    // An open channel is closed first, then a new socket is made; none made throws
    // SocketException with the system's error.
    void open();
    // Nothing on a closed channel. A failed close throws and leaves the channel as it was.
    void close();
    bool isOpen() const { return _sockfd != SocketApiWrapper::INVALID_FD; }
    SOCKET_FD sockfd() const { return _sockfd; }

protected:
    NetworkChannel();
    virtual ~NetworkChannel();

    virtual SOCKET_FD implOpen() = 0;
    virtual void implClose() = 0;

    SOCKET_FD _sockfd;
};

} // namespace Kovan
