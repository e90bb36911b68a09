#include "net/NetworkChannel.h"

namespace Kovan {

NetworkChannel::NetworkChannel()
    : _sockfd(SocketApiWrapper::INVALID_FD)
{
}

NetworkChannel::~NetworkChannel() { }

void NetworkChannel::open()
{
    close();
    _sockfd = implOpen();
    if (SocketApiWrapper::isInvalidFd(_sockfd))
        throw SocketException(SocketApiWrapper::errorCode());
}

void NetworkChannel::close()
{
    if (!isOpen())
        return;
    SocketApiWrapper::closeSocket(_sockfd);
    _sockfd = SocketApiWrapper::INVALID_FD;
    implClose();
}

} // namespace Kovan
