#include "net/SocketApiWrapper.h"

#include "net/Inet4.h"
#include "net/SocketAddress.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Kovan {

bool SocketApiWrapper::_initialized = false;

namespace {

// A peer that has gone away must give EPIPE, not a SIGPIPE that ends the whole process.
const int SEND_FLAGS = MSG_NOSIGNAL;

[[noreturn]] void throwSystemError() { throw SocketException(errno); }

[[noreturn]] void throwLookupError(int resolverError)
{
    throw SocketException(resolverError, hstrerror(resolverError));
}

// Every address handed to the system is built by makeInet4Address; ports above 32767 arrive here
// sign-extended from a short, and the cut to 16 bits restores them.
sockaddr_in makeAddress(in_addr_t networkAddress, short port)
{
    return detail::makeInet4Address(networkAddress, static_cast<uint16>(port));
}

in_addr_t resolveOrThrow(const char* text)
{
    in_addr found;
    int resolverError = 0;
    if (!detail::resolveHostAddress(text, &found, &resolverError))
        throwLookupError(resolverError);
    return found.s_addr;
}

} // namespace

void SocketApiWrapper::initialize() { _initialized = true; }

void SocketApiWrapper::cleanup() { _initialized = false; }

int SocketApiWrapper::errorCode() { return errno; }

SOCKET_FD SocketApiWrapper::createStreamSocket()
{
    if (!_initialized)
        initialize();
    return ::socket(AF_INET, SOCK_STREAM, 0);
}

SOCKET_FD SocketApiWrapper::createDatagramSocket()
{
    if (!_initialized)
        initialize();
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

void SocketApiWrapper::closeSocket(SOCKET_FD sockfd)
{
    if (::close(sockfd) == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::configureBlocking(SOCKET_FD sockfd, bool block)
{
    int flags = ::fcntl(sockfd, F_GETFL);
    if (flags == RETURN_ERROR)
        throwSystemError();
    flags = block ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (::fcntl(sockfd, F_SETFL, flags) == RETURN_ERROR)
        throwSystemError();
}

int SocketApiWrapper::send(SOCKET_FD sockfd, const void* buff, int nbytes)
{
    ssize_t sent = ::send(sockfd, buff, static_cast<size_t>(nbytes), SEND_FLAGS);
    if (sent == RETURN_ERROR)
        throwSystemError();
    return static_cast<int>(sent);
}

int SocketApiWrapper::recv(SOCKET_FD sockfd, void* buff, int nbytes)
{
    ssize_t received = ::recv(sockfd, buff, static_cast<size_t>(nbytes), 0);
    if (received == RETURN_ERROR)
        throwSystemError();
    return static_cast<int>(received);
}

int SocketApiWrapper::sendTo(
    SOCKET_FD sockfd, const void* buff, int nbytes, const SocketAddress& address)
{
    // An address that holds nothing goes to everyone on the segment; the system refuses that on
    // a socket without SO_BROADCAST, and the refusal is thrown like any other.
    in_addr_t networkAddress = INADDR_BROADCAST;
    if (address.hostAddress() != nullptr)
        networkAddress = resolveOrThrow(address.hostAddress());
    return sendTo(sockfd, buff, nbytes, makeAddress(networkAddress, address.port()));
}

int SocketApiWrapper::sendTo(
    SOCKET_FD sockfd, const void* buff, int nbytes, const sockaddr_in& address)
{
    ssize_t sent = ::sendto(sockfd, buff, static_cast<size_t>(nbytes), SEND_FLAGS,
        reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    if (sent == RETURN_ERROR)
        throwSystemError();
    return static_cast<int>(sent);
}

int SocketApiWrapper::recvFrom(SOCKET_FD sockfd, void* buff, int nbytes, SocketAddress& address)
{
    sockaddr_in source;
    int received = recvFrom(sockfd, buff, nbytes, &source);
    address.setAddress(&source);
    return received;
}

int SocketApiWrapper::recvFrom(SOCKET_FD sockfd, void* buff, int nbytes, sockaddr_in* source)
{
    memset(source, 0, sizeof(*source));
    socklen_t length = sizeof(*source);
    ssize_t received = ::recvfrom(
        sockfd, buff, static_cast<size_t>(nbytes), 0, reinterpret_cast<sockaddr*>(source), &length);
    if (received == RETURN_ERROR)
        throwSystemError();
    return static_cast<int>(received);
}

int SocketApiWrapper::recvFrom(
    SOCKET_FD sockfd, void* buff, int nbytes, sockaddr_in* source, timespec* arrival)
{
    memset(source, 0, sizeof(*source));
    memset(arrival, 0, sizeof(*arrival));
    iovec part;
    part.iov_base = buff;
    part.iov_len = static_cast<size_t>(nbytes);
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message;
    memset(&message, 0, sizeof(message));
    message.msg_name = source;
    message.msg_namelen = sizeof(*source);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t received = ::recvmsg(sockfd, &message, 0);
    if (received == RETURN_ERROR)
        throwSystemError();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS
            && c->cmsg_len >= CMSG_LEN(sizeof(timespec)))
            memcpy(arrival, CMSG_DATA(c), sizeof(timespec));
    return static_cast<int>(received);
}

void SocketApiWrapper::connect(SOCKET_FD sockfd, const char* address, int port)
{
    sockaddr_in destination = makeAddress(resolveOrThrow(address), static_cast<short>(port));
    connect(sockfd, reinterpret_cast<const sockaddr*>(&destination), sizeof(destination));
}

void SocketApiWrapper::connect(SOCKET_FD sockfd, const sockaddr* address, int length)
{
    if (::connect(sockfd, address, static_cast<socklen_t>(length)) == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::connect(SOCKET_FD sockfd, const SocketAddress& address)
{
    if (address.isUnresolved())
        throw SocketException(EDESTADDRREQ);
    connect(sockfd, address.hostAddress(), address.port());
}

SOCKET_FD SocketApiWrapper::accept(SOCKET_FD sockfd, SocketAddress& address)
{
    sockaddr_in source;
    memset(&source, 0, sizeof(source));
    socklen_t length = sizeof(source);
    SOCKET_FD accepted = ::accept(sockfd, reinterpret_cast<sockaddr*>(&source), &length);
    if (isInvalidFd(accepted))
        throwSystemError();
    address.setAddress(&source);
    return accepted;
}

void SocketApiWrapper::listen(SOCKET_FD sockfd, int backlog)
{
    if (::listen(sockfd, backlog) == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::bind(SOCKET_FD sockfd, short port)
{
    bind(sockfd, makeAddress(htonl(INADDR_ANY), port));
}

void SocketApiWrapper::bind(SOCKET_FD sockfd, const sockaddr_in& address)
{
    if (::bind(sockfd, reinterpret_cast<const sockaddr*>(&address), sizeof(address))
        == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::setOption(SOCKET_FD sockfd, int level, int name, int value)
{
    if (::setsockopt(sockfd, level, name, &value, sizeof(value)) == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::getSocketName(SOCKET_FD sockfd, sockaddr_in* addr)
{
    memset(addr, 0, sizeof(*addr));
    socklen_t length = sizeof(*addr);
    if (::getsockname(sockfd, reinterpret_cast<sockaddr*>(addr), &length) == RETURN_ERROR)
        throwSystemError();
}

void SocketApiWrapper::getPeerName(SOCKET_FD sockfd, sockaddr_in* addr)
{
    memset(addr, 0, sizeof(*addr));
    socklen_t length = sizeof(*addr);
    if (::getpeername(sockfd, reinterpret_cast<sockaddr*>(addr), &length) == RETURN_ERROR)
        throwSystemError();
}

bool SocketApiWrapper::waitFor(SOCKET_FD sockfd, int timeoutMs, bool forWriting)
{
    // FD_SET outside the set's size would write past it.
    if (sockfd < 0 || sockfd >= FD_SETSIZE)
        throw SocketException(EBADF);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sockfd, &set);
    timeval limit;
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    int ready = ::select(sockfd + 1, forWriting ? nullptr : &set, forWriting ? &set : nullptr,
        nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (ready == RETURN_ERROR)
        throwSystemError();
    return ready > 0;
}

bool SocketApiWrapper::waitReadable(SOCKET_FD sockfd, int timeoutMs)
{
    return waitFor(sockfd, timeoutMs, false);
}

bool SocketApiWrapper::waitWritable(SOCKET_FD sockfd, int timeoutMs)
{
    return waitFor(sockfd, timeoutMs, true);
}

int SocketApiWrapper::pendingError(SOCKET_FD sockfd)
{
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(sockfd, SOL_SOCKET, SO_ERROR, &error, &length) == RETURN_ERROR)
        throwSystemError();
    return error;
}

} // namespace Kovan
