#include "net/ByteOrder.h"

#include "foundation/Trace.h"

#include <cstring>
#include <mutex>

namespace Kovan {

ByteOrder ByteOrder::_ORDER_BIG_ENDIAN;
ByteOrder ByteOrder::_ORDER_LITTLE_ENDIAN;
// Address constants: set before any code runs, so buffers built during other objects' static
// initialisation already see them.
ByteOrder* const ByteOrder::ORDER_BIG_ENDIAN = &ByteOrder::_ORDER_BIG_ENDIAN;
ByteOrder* const ByteOrder::ORDER_LITTLE_ENDIAN = &ByteOrder::_ORDER_LITTLE_ENDIAN;
ByteOrder* ByteOrder::_nativeOrder = nullptr;

ByteOrder* ByteOrder::nativeOrder()
{
    // Threads that ask first at the same time wait for one detection instead of racing to store
    // the pointer; later calls see the stored value through the flag.
    static std::once_flag detected;
    std::call_once(detected, [] { _nativeOrder = implNativeOrder(); });
    return _nativeOrder;
}

ByteOrder* ByteOrder::implNativeOrder()
{
    const uint16 probe = 0x00FF;
    unsigned char first;
    memcpy(&first, &probe, 1);
    KOVAN_CHECK_SIG(first == 0x00 || first == 0xFF);
    return first == 0x00 ? ORDER_BIG_ENDIAN : ORDER_LITTLE_ENDIAN;
}

uint32 swapUint32(uint32 value)
{
    return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8)
        | ((value & 0x00FF0000u) >> 8) | ((value & 0xFF000000u) >> 24);
}

uint64 swapUint64(uint64 value)
{
    uint64 low = swapUint32(static_cast<uint32>(value));
    uint64 high = swapUint32(static_cast<uint32>(value >> 32));
    return (low << 32) | high;
}

int64 swapInt64(int64 value) { return static_cast<int64>(swapUint64(static_cast<uint64>(value))); }

} // namespace Kovan
