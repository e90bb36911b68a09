// Name lookup shared by the socket wrapper and the socket addresses.
#pragma once

#include <netinet/in.h>

namespace Kovan {
namespace detail {

// Looks `name` up with the system resolver (a dotted literal is accepted as well) and stores the
// first IPv4 address of the answer. On failure returns false with the resolver's error number
// (an h_errno value) in `resolverError`. Uses the reentrant lookup, so threads that resolve at the
// same time do not overwrite each other's answer.
bool lookupHostAddress(const char* name, in_addr* address, int* resolverError);

} // namespace detail
} // namespace Kovan
