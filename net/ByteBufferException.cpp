#include "net/ByteBufferException.h"

#include "foundation/Trace.h"

namespace Kovan {

const char* ByteBufferException::getMessage(ErrorCode errorCode)
{
    static const char* const texts[] = {
        "Buffer overflow",
        "Buffer underflow",
        "Illegal argument",
        "Index out of bound",
        "Invalid mark",
        "Out of memory",
    };
    const int index = static_cast<int>(errorCode);
    KOVAN_CHECK_SIG(0 <= index && index <= OUT_OF_MEMORY);
    return texts[index];
}

} // namespace Kovan
