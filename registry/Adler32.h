// The Adler-32 checksum of RFC 1950, as the registry file stores it: second sum in the high
// half, first sum in the low half. Start a new checksum with 1.
//
// Thread safety: a pure function; any thread.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

uint32 adler32(uint32 adler, const uint8* data, uint32 size);

} // namespace Kovan
