#include "net/NonBlockingServerSocketChannel.h"
#include "net/NonBlockingSocketChannel.h"

#include <cerrno>
#include <unistd.h>

namespace Kovan {

namespace {

// A new stream socket in non-blocking mode; it is not left open when the switch fails.
SOCKET_FD createNonBlockingStreamSocket()
{
    SOCKET_FD descriptor = SocketApiWrapper::createStreamSocket();
    if (SocketApiWrapper::isInvalidFd(descriptor))
        return descriptor;
    try {
        SocketApiWrapper::configureBlocking(descriptor, false);
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    return descriptor;
}

} // namespace

SOCKET_FD NonBlockingServerSocketChannel::implOpen() { return createNonBlockingStreamSocket(); }

NonBlockingSocketChannel::NonBlockingSocketChannel() { }

SOCKET_FD NonBlockingSocketChannel::implOpen() { return createNonBlockingStreamSocket(); }

bool NonBlockingSocketChannel::implConnect(SOCKET_FD sockfd, const sockaddr* addr, int addrlen)
{
    if (::connect(sockfd, addr, static_cast<socklen_t>(addrlen))
        == SocketApiWrapper::RETURN_ERROR) {
        int error = SocketApiWrapper::errorCode();
        if (error == SocketApiWrapper::CONNECT_IN_PROGRESS)
            return false;
        throw SocketException(error);
    }
    return true;
}

void NonBlockingSocketChannel::accepted(SOCKET_FD sockfd, const sockaddr_in* addr)
{
    SocketChannel::accepted(sockfd, addr);
    SocketApiWrapper::configureBlocking(_sockfd, false);
}

bool NonBlockingSocketChannel::finishConnect(int timeoutMs)
{
    if (_connected)
        return true;
    if (!SocketApiWrapper::waitWritable(_sockfd, timeoutMs))
        return false;
    notifyConnected();
    return true;
}

void NonBlockingSocketChannel::notifyConnected()
{
    int error = SocketApiWrapper::pendingError(_sockfd);
    if (error != 0)
        throw SocketException(error);
    // Writable without an error but without a peer means no connect was ever started.
    sockaddr_in peer;
    SocketApiWrapper::getPeerName(_sockfd, &peer);
    _connected = true;
    resolveLocalAndRemoteAddresses(&peer);
}

} // namespace Kovan
