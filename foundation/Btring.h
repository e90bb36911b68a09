// Text kept without the heap. Btring<N> holds its N bytes inside the object; Ptring is the same
// set of rules over a caller's buffer. Over-long text is cut at N - 1 characters and the cut is
// reported by one "LONG TEXT" trace line; truncation is never fatal.
//
// Thread safety: plain values; an object is used by one thread at a time.
#pragma once

#include "foundation/Types.h"

#include <cstdarg>
#include <cstring>

namespace Kovan {

namespace detail {
// The rules shared by Btring and Ptring; `who` names the class in the trace lines.
void boundedAssign(char* buffer, uint32 size, const char* s, const char* who);
void boundedVPrintf(char* buffer, uint32 size, const char* fmt, va_list args, const char* who)
    __attribute__((format(printf, 3, 0)));
void boundedVAppendf(char* buffer, uint32 size, const char* fmt, va_list args, const char* who)
    __attribute__((format(printf, 3, 0)));
void boundedAppend(char* buffer, uint32 size, const char* s, const char* who);
} // namespace detail

template <uint32 N> class Btring {
    static_assert(N > 1, "a Btring needs room for at least one character and its NUL");

public:
    Btring() { makeEmpty(); }
    Btring(const char* s) { operator=(s); }
    Btring(const Btring& other) = default;

    Btring& operator=(const char* s)
    {
        detail::boundedAssign(_buffer, N, s, "Btring");
        return *this;
    }
    Btring& operator=(const Btring& other)
    {
        if (this != &other)
            detail::boundedAssign(_buffer, N, other._buffer, "Btring");
        return *this;
    }

    // Traces even on an exact fit: the length can't tell fit from cut.
    const char* printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, fmt);
        detail::boundedVPrintf(_buffer, N, fmt, args, "Btring");
        va_end(args);
        return _buffer;
    }
    // A full text is left alone without a line.
    const char* appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, fmt);
        detail::boundedVAppendf(_buffer, N, fmt, args, "Btring");
        va_end(args);
        return _buffer;
    }

    const char* append(const char* s)
    {
        detail::boundedAppend(_buffer, N, s, "Btring");
        return _buffer;
    }
    const char* append(const Btring& s) { return append(s._buffer); }
    Btring& operator+=(const char* s)
    {
        append(s);
        return *this;
    }
    Btring& operator+=(const Btring& s)
    {
        append(s._buffer);
        return *this;
    }

    bool operator==(const char* s) const { return 0 == strcmp(_buffer, s); }
    bool operator!=(const char* s) const { return !operator==(s); }
    bool operator==(const Btring& s) const { return operator==(s._buffer); }
    bool operator!=(const Btring& s) const { return !operator==(s._buffer); }

    bool isEmpty() const { return '\0' == _buffer[0]; }
    uint32 length() const { return static_cast<uint32>(strlen(_buffer)); }
    static constexpr uint32 maxLength() { return N - 1; }
    // Only the first byte is cleared; the rest of the array keeps its old contents.
    void makeEmpty() { _buffer[0] = '\0'; }

    const char* cString() const { return _buffer; }
    operator char*() { return _buffer; }
    operator const char*() const { return _buffer; }

private:
    char _buffer[N];
};

// A bounded view over a buffer the caller owns and keeps alive.
class Ptring {
public:
    // A null `s` leaves the buffer's contents untouched.
    Ptring(char* buffer, uint32 bufferSize, const char* s = nullptr);

    Ptring& operator=(const char* s);
    Ptring& operator=(const Ptring& other);
    const char* append(const char* s);
    const char* append(const Ptring& s) { return append(s._buffer); }
    Ptring& operator+=(const char* s)
    {
        append(s);
        return *this;
    }
    Ptring& operator+=(const Ptring& s)
    {
        append(s._buffer);
        return *this;
    }
    const char* printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    const char* appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    bool operator==(const char* s) const { return 0 == strcmp(_buffer, s); }
    bool operator!=(const char* s) const { return !operator==(s); }
    bool operator==(const Ptring& s) const { return operator==(s._buffer); }
    bool operator!=(const Ptring& s) const { return !operator==(s._buffer); }

    bool isEmpty() const { return '\0' == _buffer[0]; }
    uint32 length() const { return static_cast<uint32>(strlen(_buffer)); }
    uint32 maxLength() const { return _bufferSize - 1; }
    void makeEmpty() { _buffer[0] = '\0'; }

    const char* cString() const { return _buffer; }
    operator char*() { return _buffer; }
    operator const char*() const { return _buffer; }

private:
    char* _buffer;
    uint32 _bufferSize;
};

// Bounded copy into dst (dstSize bytes, NUL included); dst is left untouched when src is null.
char* copyString(char* dst, uint32 dstSize, const char* src);

} // namespace Kovan
