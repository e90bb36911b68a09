// Packed binary-coded decimal, the form clock chips keep their calendars in: the tens digit in
// the high nibble, the units in the low one. The one conversion of the tree (the bench simulator
// keeps its own on purpose, as an independent model of the chips).
//
// Thread safety: pure functions, callable from any thread.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

// (value / 10) shifted left by 4 and cut to 8 bits, OR (value % 10) cut to 8 bits, with C's
// division truncating toward zero. Values outside 0..99 are encoded without complaint (123 gives
// 0xC3, -5 gives 0xFB); callers that want a range reduce the value first. Shifted as unsigned, so
// no value is undefined.
constexpr uint8 toBcd(int32 value)
{
    const uint32 tens = static_cast<uint32>(value / 10) << 4;
    const uint32 units = static_cast<uint32>(value % 10);
    return static_cast<uint8>((tens & 0xFF) | (units & 0xFF));
}

// Tens nibble times ten plus the units nibble; a nibble above 9 is taken at its value (0xC3 is
// 123).
constexpr int32 fromBcd(uint8 byte) { return (byte >> 4) * 10 + (byte & 0x0F); }

// Whether both nibbles are decimal digits.
constexpr bool isBcd(uint8 byte) { return (byte & 0x0F) <= 9 && (byte >> 4) <= 9; }

static_assert(0x59 == toBcd(59) && 0xC3 == toBcd(123) && 0xFB == toBcd(-5), "BCD encoding");
static_assert(59 == fromBcd(0x59) && 123 == fromBcd(0xC3), "BCD decoding");

} // namespace Kovan
