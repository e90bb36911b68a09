#include "net/Inet4.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <resolv.h>
#include <sys/socket.h>
#include <vector>

namespace Kovan {
namespace detail {

sockaddr_in makeInet4Address(in_addr_t networkAddress, uint16 port)
{
    sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = networkAddress;
    return address;
}

bool lookupHostAddress(const char* name, in_addr* address, int* resolverError)
{
    // Enough for an ordinary answer; a long alias list asks for more (ERANGE) and gets it, up to a
    // bound so that a hostile answer cannot grow the buffer without end.
    std::vector<char> scratch(1024);
    hostent entry;
    hostent* result = nullptr;
    int error = 0;
    int status;
    while ((status = gethostbyname_r(name, &entry, scratch.data(), scratch.size(), &result, &error))
            == ERANGE
        && scratch.size() < 64 * 1024)
        scratch.resize(scratch.size() * 2);

    if (status != 0 || result == nullptr) {
        // A buffer that stayed too small is the resolver's own trouble, not the caller's.
        *resolverError = (status == 0 || error != 0) ? error : NETDB_INTERNAL;
        return false;
    }
    if (result->h_addrtype != AF_INET || result->h_length != int(sizeof(in_addr))
        || result->h_addr_list[0] == nullptr) {
        *resolverError = NO_DATA;
        return false;
    }
    memcpy(address, result->h_addr_list[0], sizeof(in_addr));
    return true;
}

bool resolveHostAddress(const char* text, in_addr* address, int* resolverError)
{
    const in_addr_t literal = inet_addr(text);
    if (literal != INADDR_NONE) {
        address->s_addr = literal;
        return true;
    }
    return lookupHostAddress(text, address, resolverError);
}

bool replaceFirstNameServer(const char* nameServer)
{
    if (0 != res_init())
        return false;
    if (_res.nscount > 0)
        _res.nsaddr_list[0].sin_addr.s_addr = inet_addr(nameServer);
    return true;
}

void formatInet4Address(in_addr address, char* out, size_t size)
{
    // inet_ntop instead of inet_ntoa: the same text, without the shared static buffer.
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address, text, sizeof(text)) == nullptr)
        text[0] = '\0';
    const size_t length = strnlen(text, size - 1);
    memcpy(out, text, length);
    out[length] = '\0';
}

} // namespace detail
} // namespace Kovan
