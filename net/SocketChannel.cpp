#include "net/SocketChannel.h"

#include "foundation/Trace.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>

namespace Kovan {

SocketChannel::SocketChannel()
    : _connected(false)
{
}

SocketChannel::~SocketChannel() { }

SOCKET_FD SocketChannel::implOpen() { return SocketApiWrapper::createStreamSocket(); }

void SocketChannel::implClose()
{
    _connected = false;
    _localAddr.release();
    _remoteAddr.release();
}

bool SocketChannel::implConnect(SOCKET_FD sockfd, const sockaddr* addr, int addrlen)
{
    if (::connect(sockfd, addr, static_cast<socklen_t>(addrlen))
        == SocketApiWrapper::RETURN_ERROR) {
        int error = SocketApiWrapper::errorCode();
        trace("Socket Error: %d\n", error);
        throw SocketException(error);
    }
    return true;
}

int SocketChannel::implRead(SOCKET_FD sockfd, void* buff, int nbytes)
{
    // A TCP recv of 0 bytes waits for data to arrive before it returns 0: a full buffer would
    // hang its reader.
    if (nbytes == 0)
        return 0;
    return static_cast<int>(::recv(sockfd, buff, static_cast<size_t>(nbytes), 0));
}

int SocketChannel::implWrite(SOCKET_FD sockfd, void* buff, int nbytes)
{
    // A peer that has gone gives -1 and EPIPE here, not a SIGPIPE that ends the process.
    return static_cast<int>(::send(sockfd, buff, static_cast<size_t>(nbytes), MSG_NOSIGNAL));
}

bool SocketChannel::connect(const SocketAddress* endpoint)
{
    KOVAN_CHECK_SIG(0 != endpoint);
    if (endpoint->isUnresolved())
        throw SocketException(EDESTADDRREQ);
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(endpoint->hostAddress());
    address.sin_port = htons(static_cast<uint16>(endpoint->port()));
    _connected = implConnect(
        _sockfd, reinterpret_cast<const sockaddr*>(&address), static_cast<int>(sizeof(address)));
    if (_connected)
        resolveLocalAndRemoteAddresses(&address);
    return _connected;
}

void SocketChannel::accepted(SOCKET_FD sockfd, const sockaddr_in* addr)
{
    KOVAN_CHECK_SIG(0 != addr);
    close();
    if (SocketApiWrapper::isInvalidFd(sockfd))
        throw SocketException(SocketApiWrapper::errorCode());
    _sockfd = sockfd;
    resolveLocalAndRemoteAddresses(addr);
}

int SocketChannel::read(ByteBuffer* buf)
{
    KOVAN_CHECK_SIG(0 != buf);
    int count = implRead(_sockfd, buf->buffer(), buf->remaining());
    if (count == SocketApiWrapper::RETURN_ERROR)
        return SocketApiWrapper::RETURN_ERROR;
    buf->position(buf->position() + count);
    return count;
}

int SocketChannel::write(ByteBuffer* buf)
{
    KOVAN_CHECK_SIG(0 != buf);
    int count = implWrite(_sockfd, buf->buffer(), buf->remaining());
    if (count == SocketApiWrapper::RETURN_ERROR)
        return SocketApiWrapper::RETURN_ERROR;
    buf->position(buf->position() + count);
    return count;
}

void SocketChannel::shutdownOutput()
{
    if (::shutdown(_sockfd, SHUT_WR) == SocketApiWrapper::RETURN_ERROR)
        throw SocketException(SocketApiWrapper::errorCode());
}

const SocketAddress* SocketChannel::localAddress()
{
    if (_localAddr.isUnresolved()) {
        try {
            sockaddr_in address;
            SocketApiWrapper::getSocketName(_sockfd, &address);
            _localAddr.setAddress(&address);
        } catch (const SocketException&) {
            _localAddr.release();
        }
    }
    return &_localAddr;
}

const SocketAddress* SocketChannel::remoteAddress()
{
    if (_remoteAddr.isUnresolved()) {
        try {
            sockaddr_in address;
            SocketApiWrapper::getPeerName(_sockfd, &address);
            _remoteAddr.setAddress(&address);
        } catch (const SocketException&) {
            _remoteAddr.release();
        }
    }
    return &_remoteAddr;
}

void SocketChannel::resolveLocalAndRemoteAddresses(const sockaddr_in* remoteAddr)
{
    sockaddr_in local;
    SocketApiWrapper::getSocketName(_sockfd, &local);
    _localAddr.setAddress(&local);
    _remoteAddr.setAddress(remoteAddr);
}

} // namespace Kovan
