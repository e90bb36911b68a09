// A millisecond tick from the monotonic clock, wrapping every 2^32 ms (about 49.7 days).
//
// Thread safety: callable from any thread.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

uint32 currentTick();

// Milliseconds from an earlier tick t1 to a later tick t2, right across one wrap of the counter.
inline uint32 diffTick(uint32 t1, uint32 t2) { return t2 - t1; }

} // namespace Kovan
