#include "sntp/SntpSocket.h"

#include "foundation/Trace.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>

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
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(_socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

bool SntpSocket::connectSocket(const char* hostAddress, int32 port)
{
    KOVAN_CHECK(_socketFd != SocketApiWrapper::INVALID_FD);
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16>(port));
    address.sin_addr.s_addr = inet_addr(hostAddress);
    if (INADDR_NONE == address.sin_addr.s_addr) {
        const hostent* host = gethostbyname(hostAddress);
        if (nullptr == host || AF_INET != host->h_addrtype || nullptr == host->h_addr_list[0])
            return false;
        memcpy(&address.sin_addr, host->h_addr_list[0], sizeof(address.sin_addr));
    }
    return connectSocket(reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

bool SntpSocket::connectSocket(const sockaddr* sockAddr, int32 sockAddrLen)
{
    return 0 == connect(_socketFd, sockAddr, static_cast<socklen_t>(sockAddrLen));
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
    // select() cannot watch a descriptor outside its set; treat it as a failed select rather
    // than write past the set.
    if (_socketFd < 0 || _socketFd >= FD_SETSIZE)
        return false;
    timeval limit;
    limit.tv_sec = static_cast<time_t>(out / 1000);
    limit.tv_usec = static_cast<suseconds_t>((out % 1000) * 1000);
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(_socketFd, &readSet);
    const int result = select(_socketFd + 1, &readSet, nullptr, nullptr, &limit);
    if (-1 == result)
        return false;
    *readable = 0 != result;
    return true;
}

} // namespace Kovan
