// The two byte orders of multi-byte values, and the helpers that reverse a value's bytes.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

// An order is identified by the object's address: buffers store and compare the pointers
// ORDER_BIG_ENDIAN and ORDER_LITTLE_ENDIAN.
class ByteOrder {
public:
    static ByteOrder* const ORDER_BIG_ENDIAN;
    static ByteOrder* const ORDER_LITTLE_ENDIAN;

    // The processor's own order, found on first use and kept.
    static ByteOrder* nativeOrder();

private:
    static ByteOrder* implNativeOrder();

    static ByteOrder _ORDER_BIG_ENDIAN;
    static ByteOrder _ORDER_LITTLE_ENDIAN;
    static ByteOrder* _nativeOrder;
};

uint32 swapUint32(uint32 value);
// A full reversal of the eight bytes: the halves change places and each half is reversed.
uint64 swapUint64(uint64 value);
int64 swapInt64(int64 value);

} // namespace Kovan
