// IPv4 addresses and names as the system wants them, for the socket wrapper, the socket addresses
// and the SNTP service: the one builder of a socket address, the one name lookup (reentrant) and
// the one address-to-text conversion. Callers keep their own rule for what a failure means.
#pragma once

#include "foundation/Types.h"

#include <cstddef>
#include <netinet/in.h>

namespace Kovan {
namespace detail {

// Room for the longest dotted address and its terminator.
constexpr size_t INET4_TEXT_SIZE = 16;

// Every address handed to the system: all bytes zero, AF_INET, `port` (host order) and
// `networkAddress` (already in network order) in network order.
sockaddr_in makeInet4Address(in_addr_t networkAddress, uint16 port);

// Looks `name` up with the system resolver (a dotted literal is accepted as well) and stores the
// first IPv4 address of the answer. On failure returns false with the resolver's error number
// (an h_errno value) in `resolverError`. Uses the reentrant lookup, so threads that resolve at the
// same time do not overwrite each other's answer; it honours the calling thread's resolver state.
bool lookupHostAddress(const char* name, in_addr* address, int* resolverError);

// A dotted literal (inet_addr) converts without a lookup; anything else, 255.255.255.255
// included (inet_addr cannot tell it from an error), goes to lookupHostAddress.
bool resolveHostAddress(const char* text, in_addr* address, int* resolverError);

// The resolver hand-over some boards rely on: res_init, then the calling thread's first name
// server (if it has any) becomes `nameServer`, a dotted text. False when res_init fails.
bool replaceFirstNameServer(const char* nameServer);

// The dotted text of `address`, cut to `size` - 1 characters (INET4_TEXT_SIZE always fits).
void formatInet4Address(in_addr address, char* out, size_t size);

} // namespace detail
} // namespace Kovan
