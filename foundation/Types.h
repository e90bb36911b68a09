// Fixed-width integer names used across Kovan, and the two arithmetic helpers every layer shares.
#pragma once

#include <cstdint>

namespace Kovan {

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

// On a tie the second reference is returned; callers rely on that only for unsigned values.
template <typename T> inline const T& _min(const T& a, const T& b) { return (a < b) ? a : b; }

// Distance between two values, computed without going through a negative intermediate.
template <typename T> inline T _abs(const T& a, const T& b)
{
    return (a < b) ? T(b - a) : T(a - b);
}

} // namespace Kovan
