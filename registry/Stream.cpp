#include "registry/Stream.h"

#include "foundation/Trace.h"

#include <cstring>

namespace Kovan {

Stream::~Stream() = default;

bool Stream::clear(uint32 size)
{
    const uint8 zero = 0;
    for (uint32 i = 0; i < size; ++i) {
        if (!write(&zero, 1))
            return false;
    }
    return true;
}

// The sum is formed in 64 bits, so a huge size cannot wrap it into range; the text is the rule
// as users read it.
void MemoryStream::checkBounds(uint32 size, const char* function) const
{
    if (!(_offset < _bufferSize && static_cast<uint64>(_offset) + size <= _bufferSize))
        assertFunc(
            "_offset < _bufferSize && _offset + size <= _bufferSize", __FILE__, __LINE__, function);
}

MemoryStream::MemoryStream(void* buffer, uint32 bufferSize)
    : _buffer(static_cast<uint8*>(buffer))
    , _bufferSize(bufferSize)
    , _offset(0)
{
}

bool MemoryStream::moveTo(int32 offset)
{
    _offset = static_cast<uint32>(offset);
    return true;
}

bool MemoryStream::moveBy(int32 offset)
{
    _offset += static_cast<uint32>(offset);
    return true;
}

bool MemoryStream::read(void* data, uint32 size)
{
    checkBounds(size, "read");
    memcpy(data, _buffer + _offset, size);
    _offset += size;
    return true;
}

bool MemoryStream::write(const void* data, uint32 size)
{
    checkBounds(size, "write");
    memcpy(_buffer + _offset, data, size);
    _offset += size;
    return true;
}

bool MemoryStream::clear(uint32 size)
{
    checkBounds(size, "clear");
    memset(_buffer + _offset, 0, size);
    _offset += size;
    return true;
}

} // namespace Kovan
