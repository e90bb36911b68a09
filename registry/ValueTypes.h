// The eleven value types that files, streams and the registry move, named once. Every typed
// family (StdFile, Stream, Registry) is generic code over these types; this list only spells
// out the operation names the family members are known by.
#pragma once

#include "foundation/Types.h"

#include <cstring>
#include <type_traits>

// X(Name, type, CODE): Name is the word inside operation names (readInt32, addInt32Array, ...);
// CODE is the registry's type code for the type.
#define KOVAN_VALUE_TYPES(X)                                                                       \
    X(Bool, bool, BOOL)                                                                            \
    X(Int8, int8, INT8)                                                                            \
    X(Uint8, uint8, UINT8)                                                                         \
    X(Int16, int16, INT16)                                                                         \
    X(Uint16, uint16, UINT16)                                                                      \
    X(Int32, int32, INT32)                                                                         \
    X(Uint32, uint32, UINT32)                                                                      \
    X(Int64, int64, INT64)                                                                         \
    X(Uint64, uint64, UINT64)                                                                      \
    X(Float, float, FLOAT)                                                                         \
    X(Double, double, DOUBLE)

// The typed reads and writes of a byte store, for KOVAN_VALUE_TYPES inside its class.
#define KOVAN_TYPED_TRANSFERS(N, T, ...)                                                           \
    bool read##N(T* value) { return detail::readValues(*this, value, 1); }                         \
    bool write##N(T value) { return detail::writeValues(*this, &value, 1); }                       \
    bool read##N##Array(T* data, int32 count) { return detail::readValues(*this, data, count); }   \
    bool write##N##Array(const T* data, int32 count)                                               \
    {                                                                                              \
        return detail::writeValues(*this, data, count);                                            \
    }

namespace Kovan {
namespace detail {

// Stored doubles keep the word order of the ARM FPA format: the word with sign and exponent
// first, each word little-endian. A host whose doubles already lie that way moves them as they
// are; a plain little-endian host swaps the two words of every element.
#if defined(__FLOAT_WORD_ORDER__) && defined(__ORDER_BIG_ENDIAN__)                                 \
    && __FLOAT_WORD_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool SWAP_DOUBLE_WORDS = false;
#else
constexpr bool SWAP_DOUBLE_WORDS = true;
#endif

inline void swapDoubleWords(void* element)
{
    uint8 tmp[4];
    uint8* p = static_cast<uint8*>(element);
    memcpy(tmp, p, 4);
    memmove(p, p + 4, 4);
    memcpy(p + 4, tmp, 4);
}

// Host double from eight bytes in file order.
inline double doubleFromFile(const uint8* bytes)
{
    uint8 tmp[8];
    memcpy(tmp, bytes, 8);
    if (SWAP_DOUBLE_WORDS)
        swapDoubleWords(tmp);
    double d;
    memcpy(&d, tmp, 8);
    return d;
}

template <typename T> constexpr bool needsWordSwap()
{
    return std::is_same<T, double>::value && SWAP_DOUBLE_WORDS;
}

// Typed transfers over anything with bool read(void*, uint32) and bool write(const void*,
// uint32). Arrays move in one call; only swapped doubles go out through a bounded stack copy,
// in as many calls as that copy needs.
template <typename Io, typename T> bool readValues(Io& io, T* data, int32 count)
{
    if (count <= 0)
        return io.read(data, 0);
    bool ok = io.read(data, static_cast<uint32>(count) * sizeof(T));
    if (ok && needsWordSwap<T>()) {
        for (int32 i = 0; i < count; ++i)
            swapDoubleWords(&data[i]);
    }
    return ok;
}

template <typename Io, typename T> bool writeValues(Io& io, const T* data, int32 count)
{
    if (count <= 0)
        return io.write(data, 0);
    if (!needsWordSwap<T>())
        return io.write(data, static_cast<uint32>(count) * sizeof(T));
    constexpr int32 CHUNK = 32;
    T copy[CHUNK];
    for (int32 done = 0; done < count;) {
        int32 n = _min(CHUNK, count - done);
        memcpy(copy, data + done, static_cast<size_t>(n) * sizeof(T));
        for (int32 i = 0; i < n; ++i)
            swapDoubleWords(&copy[i]);
        if (!io.write(copy, static_cast<uint32>(n) * sizeof(T)))
            return false;
        done += n;
    }
    return true;
}

} // namespace detail
} // namespace Kovan
