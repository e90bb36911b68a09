#include "foundation/Btring.h"

#include "foundation/Trace.h"

#include <cstdio>

namespace Kovan {
namespace detail {

void boundedAssign(char* buffer, uint32 size, const char* s, const char* who)
{
    size_t len = strlen(s);
    if (len > size - 1)
        trace("%s::operator=() LONG TEXT: [%d]\"%s\"\n", who, static_cast<int>(len), s);
    // strncpy on purpose: the tail of the first N - 1 bytes is cleared as well.
    strncpy(buffer, s, size - 1);
    buffer[size - 1] = '\0';
}

void boundedVPrintf(char* buffer, uint32 size, const char* fmt, va_list args, const char* who)
{
    // The length it returns is not the text's: the text is measured after the cut.
    (void)vsnprintf(buffer, size, fmt, args);
    buffer[size - 1] = '\0';
    size_t len = strlen(buffer);
    if (len == size - 1)
        trace("%s::printf() LONG TEXT : [%d]\"%s\"\n", who, static_cast<int>(len), buffer);
}

void boundedVAppendf(char* buffer, uint32 size, const char* fmt, va_list args, const char* who)
{
    size_t len = strlen(buffer);
    if (len >= size - 1)
        return;
    (void)vsnprintf(buffer + len, size - len, fmt, args);
    buffer[size - 1] = '\0';
    len = strlen(buffer);
    if (len == size - 1)
        trace("%s::appendf() LONG TEXT : [%d]\"%s\"\n", who, static_cast<int>(len), buffer);
}

void boundedAppend(char* buffer, uint32 size, const char* s, const char* who)
{
    size_t len = strlen(buffer);
    size_t add = strlen(s);
    if (len + add >= size)
        trace("%s::append() LONG TEXT: [%d]\"%s\" + [%d]\"%s\"\n", who, static_cast<int>(len),
            buffer, static_cast<int>(add), s);
    if (len < size - 1) {
        strncpy(buffer + len, s, size - len - 1);
        buffer[size - 1] = '\0';
    }
}

} // namespace detail

Ptring::Ptring(char* buffer, uint32 bufferSize, const char* s)
    : _buffer(buffer)
    , _bufferSize(bufferSize)
{
    KOVAN_CHECK_IN(0 != _buffer && 0 < _bufferSize, "Ptring");
    if (s)
        operator=(s);
}

Ptring& Ptring::operator=(const char* s)
{
    detail::boundedAssign(_buffer, _bufferSize, s, "Ptring");
    return *this;
}

Ptring& Ptring::operator=(const Ptring& other)
{
    if (this != &other && _buffer != other._buffer)
        detail::boundedAssign(_buffer, _bufferSize, other._buffer, "Ptring");
    return *this;
}

const char* Ptring::append(const char* s)
{
    detail::boundedAppend(_buffer, _bufferSize, s, "Ptring");
    return _buffer;
}

const char* Ptring::printf(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    detail::boundedVPrintf(_buffer, _bufferSize, fmt, args, "Ptring");
    va_end(args);
    return _buffer;
}

const char* Ptring::appendf(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    detail::boundedVAppendf(_buffer, _bufferSize, fmt, args, "Ptring");
    va_end(args);
    return _buffer;
}

char* copyString(char* dst, uint32 dstSize, const char* src)
{
    Ptring p(dst, dstSize, src);
    return dst;
}

} // namespace Kovan
