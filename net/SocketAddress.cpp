#include "net/SocketAddress.h"

#include "net/Inet4.h"
#include "net/SocketException.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Kovan {

SocketAddress SocketAddress::_localAddress;

namespace {

// Over-long texts are cut without a trace line: an address is at most 15 characters anyway, and
// a long host name is the machine's business.
void copyBounded(char* dst, size_t size, const char* src)
{
    const size_t length = strnlen(src, size - 1);
    memcpy(dst, src, length);
    dst[length] = '\0';
}

} // namespace

SocketAddress::SocketAddress(const char* addr, short port)
    : SocketAddress()
{
    setAddress(addr, port);
}

void SocketAddress::release()
{
    _port = 0;
    _hostName[0] = '\0';
    _hostAddress[0] = '\0';
    _unresolved = true;
}

void SocketAddress::setAddress(const char* addr, short port)
{
    if (addr == nullptr)
        return;
    if (inet_addr(addr) != INADDR_NONE) {
        // The caller's own text is kept, not a canonical form of it.
        copyBounded(_hostAddress, sizeof(_hostAddress), addr);
    } else {
        in_addr found;
        int resolverError = 0;
        if (!detail::lookupHostAddress(addr, &found, &resolverError))
            return;
        detail::formatInet4Address(found, _hostAddress, sizeof(_hostAddress));
    }
    _port = port;
    _unresolved = false;
}

void SocketAddress::setAddress(const sockaddr_in* addr)
{
    detail::formatInet4Address(addr->sin_addr, _hostAddress, sizeof(_hostAddress));
    _port = static_cast<short>(ntohs(addr->sin_port));
    copyBounded(_hostName, sizeof(_hostName), "Unknown");
    _unresolved = false;
}

void SocketAddress::setAsLocalAddress(short port)
{
    const SocketAddress* local = localAddress();
    copyBounded(_hostAddress, sizeof(_hostAddress), local->_hostAddress);
    copyBounded(_hostName, sizeof(_hostName), local->_hostName);
    _port = port;
    _unresolved = false;
}

const SocketAddress* SocketAddress::localAddress()
{
    if (_localAddress._unresolved) {
        // Read the whole name and cut it afterwards: a buffer of only 51 bytes would make
        // gethostname fail on a longer name instead of giving its first 50 characters.
        char name[256];
        if (gethostname(name, sizeof(name)) == -1)
            throw SocketException(errno);
        name[sizeof(name) - 1] = '\0';
        copyBounded(_localAddress._hostName, sizeof(_localAddress._hostName), name);
        copyBounded(_localAddress._hostAddress, sizeof(_localAddress._hostAddress), "0.0.0.0");
        _localAddress._unresolved = false;
    }
    return &_localAddress;
}

} // namespace Kovan
