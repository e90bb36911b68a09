#include "net/ServerSocketChannel.h"

#include "foundation/Trace.h"

#include <arpa/inet.h>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace Kovan {

ServerSocketChannel::ServerSocketChannel()
    : _bound(false)
{
}

ServerSocketChannel::~ServerSocketChannel() { }

SOCKET_FD ServerSocketChannel::implOpen() { return SocketApiWrapper::createStreamSocket(); }

void ServerSocketChannel::implClose()
{
    _bound = false;
    _address.release();
}

SOCKET_FD ServerSocketChannel::implAccept(sockaddr_in* addr)
{
    socklen_t length = sizeof(*addr);
    return ::accept(_sockfd, reinterpret_cast<sockaddr*>(addr), &length);
}

void ServerSocketChannel::bind(short port, int backlog)
{
    _bound = false;
    SocketApiWrapper::bind(_sockfd, port);
    if (port == 0) {
        sockaddr_in chosen;
        SocketApiWrapper::getSocketName(_sockfd, &chosen);
        port = static_cast<short>(ntohs(chosen.sin_port));
    }
    _address.setAsLocalAddress(port);
    _bound = true;
    SocketApiWrapper::listen(_sockfd, backlog);
}

void ServerSocketChannel::accept(SocketChannel* socket)
{
    KOVAN_CHECK_SIG(0 != socket);
    if (!isBound())
        throw SocketException(0, "Socket is not bound yet");
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    SOCKET_FD descriptor = implAccept(&address);
    if (SocketApiWrapper::isInvalidFd(descriptor))
        throw SocketException(SocketApiWrapper::errorCode());
    try {
        socket->accepted(descriptor, &address);
    } catch (...) {
        // A channel that failed before adopting the connection (closing its old socket failed)
        // would lose it: nobody else holds the descriptor.
        if (socket->sockfd() != descriptor)
            ::close(descriptor);
        throw;
    }
}

void ServerSocketChannel::setReuseAddress(bool on)
{
    SocketApiWrapper::setOption(_sockfd, SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}

bool ServerSocketChannel::getReuseAddress() const
{
    int value = 0;
    socklen_t length = sizeof(value);
    if (::getsockopt(_sockfd, SOL_SOCKET, SO_REUSEADDR, &value, &length)
        == SocketApiWrapper::RETURN_ERROR)
        throw SocketException(SocketApiWrapper::errorCode());
    return value != 0;
}

} // namespace Kovan
