#include "sntp/SntpSocket.h"

#include "foundation/Trace.h"
#include "net/Inet4.h"

#include <climits>

namespace Kovan {

SntpSocket::SntpSocket()
    : _socketFd(SocketApiWrapper::INVALID_FD)
{
}

SntpSocket::~SntpSocket()
{
    try {
        closeSocket();
    } catch (const SocketException&) {
    }
}

bool SntpSocket::createSocket()
{
    _socketFd = SocketApiWrapper::createDatagramSocket();
    return SocketApiWrapper::INVALID_FD != _socketFd;
}

void SntpSocket::bindSocket(short port)
{
    KOVAN_CHECK(_socketFd != SocketApiWrapper::INVALID_FD);
    trace("SntpServer bind..\n");
    try {
        SocketApiWrapper::bind(_socketFd, port);
    } catch (const SocketException&) {
        // Not reported: a receiving user finds out when nothing arrives.
    }
}

bool SntpSocket::connectSocket(const char* hostAddress, int32 port)
{
    KOVAN_CHECK(_socketFd != SocketApiWrapper::INVALID_FD);
    in_addr host;
    int resolverError = 0;
    if (!detail::resolveHostAddress(hostAddress, &host, &resolverError))
        return false;
    const sockaddr_in address = detail::makeInet4Address(host.s_addr, static_cast<uint16>(port));
    return connectSocket(reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

bool SntpSocket::connectSocket(const sockaddr* sockAddr, int32 sockAddrLen)
{
    try {
        SocketApiWrapper::connect(_socketFd, sockAddr, sockAddrLen);
        return true;
    } catch (const SocketException&) {
        return false;
    }
}

bool SntpSocket::sendSocket(char* buf, int32 bufCount)
{
    KOVAN_CHECK(_socketFd != SocketApiWrapper::INVALID_FD);
    return -1 != SocketApiWrapper::send(_socketFd, buf, bufCount);
}

int32 SntpSocket::receiveSocket(char* buf, int32 bufCount)
{
    KOVAN_CHECK(_socketFd != SocketApiWrapper::INVALID_FD);
    try {
        return SocketApiWrapper::recv(_socketFd, buf, bufCount);
    } catch (...) {
        return 0;
    }
}

void SntpSocket::closeSocket()
{
    if (SocketApiWrapper::INVALID_FD == _socketFd)
        return;
    SocketApiWrapper::closeSocket(_socketFd);
    _socketFd = SocketApiWrapper::INVALID_FD;
}

bool SntpSocket::isReadable(bool* readable, uint32 out)
{
    // Limits beyond what the wrapper's int can hold (24 days) are cut to that.
    const int limit = out > static_cast<uint32>(INT_MAX) ? INT_MAX : static_cast<int>(out);
    try {
        *readable = SocketApiWrapper::waitReadable(_socketFd, limit);
        return true;
    } catch (const SocketException&) {
        // A failed select, or a descriptor it cannot watch: *readable stays as it was.
        return false;
    }
}

} // namespace Kovan
