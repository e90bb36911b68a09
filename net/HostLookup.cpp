#include "net/HostLookup.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <vector>

namespace Kovan {
namespace detail {

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

} // namespace detail
} // namespace Kovan
