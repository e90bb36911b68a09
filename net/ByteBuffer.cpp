#include "net/ByteBuffer.h"

#include "foundation/Trace.h"

#include <climits>
#include <cstring>
#include <new>

namespace Kovan {

namespace {

[[noreturn]] void fail(ByteBufferException::ErrorCode code) { throw ByteBufferException(code); }

} // namespace

ByteBuffer::ByteBuffer(int capacity)
    : ByteBuffer()
{
    initialize(capacity, false, nullptr);
}

ByteBuffer::ByteBuffer(int capacity, char* array)
    : ByteBuffer()
{
    initialize(capacity, true, array);
}

ByteBuffer::ByteBuffer(char* array, int offset, int length)
    : ByteBuffer()
{
    if (offset < 0 || length < 0)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    initialize(length, true, array + offset);
}

// Without storage every field still holds a consistent empty state, so a buffer used before
// wrap() fails with an overflow or underflow instead of touching a null array.
ByteBuffer::ByteBuffer()
    : _wrapped(false)
    , _order(ByteOrder::ORDER_BIG_ENDIAN)
    , _capacity(0)
    , _position(0)
    , _limit(0)
    , _mark(-1)
    , _buffer(nullptr)
{
}

ByteBuffer::~ByteBuffer() { freeStorage(); }

void ByteBuffer::initialize(int capacity, bool wrap, char* array)
{
    if (capacity < 0)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    char* storage = array;
    if (!wrap) {
        storage = new (std::nothrow) char[static_cast<size_t>(capacity)];
        if (storage == nullptr)
            fail(ByteBufferException::OUT_OF_MEMORY);
    }
    // Only now that the new storage is certain may the old one go (wrap() over owned storage).
    freeStorage();
    _buffer = storage;
    _position = 0;
    _limit = capacity;
    _mark = -1;
    _order = ByteOrder::ORDER_BIG_ENDIAN;
    _capacity = capacity;
    _wrapped = wrap;
}

void ByteBuffer::freeStorage()
{
    if (!_wrapped && _buffer != nullptr)
        delete[] _buffer;
    _buffer = nullptr;
}

ByteBuffer& ByteBuffer::wrap(char* array, int length, int offset)
{
    if (offset < 0 || length < 0 || offset >= length)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    initialize(length, true, array);
    return *this;
}

ByteBuffer& ByteBuffer::order(ByteOrder* order)
{
    if (order != ByteOrder::ORDER_BIG_ENDIAN && order != ByteOrder::ORDER_LITTLE_ENDIAN)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    _order = order;
    return *this;
}

ByteBuffer& ByteBuffer::position(int newPosition)
{
    if (newPosition < 0 || newPosition > _limit)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    _position = newPosition;
    return *this;
}

ByteBuffer& ByteBuffer::limit(int newLimit)
{
    if (newLimit < _position || newLimit > _capacity)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    _limit = newLimit;
    return *this;
}

ByteBuffer& ByteBuffer::mark()
{
    _mark = _position;
    return *this;
}

ByteBuffer& ByteBuffer::reset()
{
    if (_mark < 0)
        fail(ByteBufferException::INVALID_MARK);
    return position(_mark);
}

ByteBuffer& ByteBuffer::clear()
{
    _position = 0;
    _limit = _capacity;
    _mark = -1;
    return *this;
}

ByteBuffer& ByteBuffer::flip()
{
    _limit = _position;
    _position = 0;
    _mark = -1;
    return *this;
}

ByteBuffer& ByteBuffer::rewind()
{
    _position = 0;
    _mark = -1;
    return *this;
}

void ByteBuffer::readRaw(void* value, int size)
{
    if (remaining() < size)
        fail(ByteBufferException::BUFFER_UNDERFLOW);
    memcpy(value, _buffer + _position, static_cast<size_t>(size));
    _position += size;
}

template <typename T> T ByteBuffer::getValue()
{
    T value;
    readRaw(&value, sizeof(value));
    return isNative() ? value : swapEndian(value);
}

// The absolute forms are the relative ones at `index`, with the position put back after. A
// relative step that fails leaves the position at the index.
template <typename T> T ByteBuffer::getValueAt(int index)
{
    int saved = _position;
    position(index);
    T value = getValue<T>();
    _position = saved;
    return value;
}

template <typename T> ByteBuffer& ByteBuffer::putValue(T value)
{
    if (remaining() < int(sizeof(value)))
        fail(ByteBufferException::BUFFER_OVERFLOW);
    T ordered = isNative() ? value : swapEndian(value);
    return put(reinterpret_cast<const char*>(&ordered), int(sizeof(ordered)));
}

template <typename T> ByteBuffer& ByteBuffer::putValueAt(int index, T value)
{
    int saved = _position;
    position(index);
    putValue<T>(value);
    _position = saved;
    return *this;
}

char ByteBuffer::get()
{
    if (_position >= _limit)
        fail(ByteBufferException::BUFFER_UNDERFLOW);
    return _buffer[_position++];
}

bool ByteBuffer::getBool() { return get() != 0; }

int16 ByteBuffer::getShort() { return getValue<int16>(); }

int32 ByteBuffer::getInt() { return getValue<int32>(); }

int64 ByteBuffer::getInt64() { return getValue<int64>(); }

ByteBuffer& ByteBuffer::get(char* dst, int offset, int length)
{
    if (offset < 0 || length < 0)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    if (remaining() < length)
        fail(ByteBufferException::BUFFER_UNDERFLOW);
    if (length > 0) {
        KOVAN_CHECK_SIG(0 != dst);
        memcpy(dst + offset, _buffer + _position, static_cast<size_t>(length));
        _position += length;
    }
    return *this;
}

ByteBuffer& ByteBuffer::get(char* dst, int length) { return get(dst, 0, length); }

char ByteBuffer::get(int index)
{
    if (index < 0 || index >= _limit)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    return _buffer[index];
}

int16 ByteBuffer::getShort(int index)
{
    if (index < 0 || index >= _limit)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    return getValueAt<int16>(index);
}

int32 ByteBuffer::getInt(int index) { return getValueAt<int32>(index); }

int64 ByteBuffer::getInt64(int index) { return getValueAt<int64>(index); }

ByteBuffer& ByteBuffer::put(char b)
{
    if (_position >= _limit)
        fail(ByteBufferException::BUFFER_OVERFLOW);
    _buffer[_position++] = b;
    return *this;
}

ByteBuffer& ByteBuffer::put(int index, char b)
{
    if (index < 0 || index >= _limit)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    _buffer[index] = b;
    return *this;
}

ByteBuffer& ByteBuffer::putShort(short value) { return putValue<int16>(value); }

ByteBuffer& ByteBuffer::putShort(int index, short value) { return putValueAt<int16>(index, value); }

ByteBuffer& ByteBuffer::putInt(int value) { return putValue<int32>(value); }

ByteBuffer& ByteBuffer::putInt(int index, int value) { return putValueAt<int32>(index, value); }

ByteBuffer& ByteBuffer::putInt64(int64 value) { return putValue<int64>(value); }

ByteBuffer& ByteBuffer::putInt64(int index, int64 value) { return putValueAt<int64>(index, value); }

ByteBuffer& ByteBuffer::put(const char* src, int length) { return put(src, 0, length); }

ByteBuffer& ByteBuffer::put(const char* src, int offset, int length)
{
    if (offset < 0 || length < 0)
        fail(ByteBufferException::INDEX_OUT_OF_BOUNDS);
    if (remaining() < length)
        fail(ByteBufferException::BUFFER_OVERFLOW);
    if (length > 0) {
        KOVAN_CHECK_SIG(0 != src);
        // memmove: the source may be this buffer's own storage (a wrapped array shared by two
        // buffers, or a derived buffer copying within itself).
        memmove(_buffer + _position, src + offset, static_cast<size_t>(length));
        _position += length;
    }
    return *this;
}

ByteBuffer& ByteBuffer::put(ByteBuffer* src)
{
    KOVAN_CHECK_SIG(0 != src);
    if (src == this)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    if (src->remaining() > remaining())
        fail(ByteBufferException::BUFFER_OVERFLOW);
    return put(src->_buffer, src->_position, src->remaining());
}

ByteBuffer& ByteBuffer::lengthen(int size)
{
    if (size < 0 || _wrapped || size > INT_MAX - _capacity)
        fail(ByteBufferException::ILLEGAL_ARGUMENT);
    char* storage = new (std::nothrow) char[static_cast<size_t>(_capacity) + size];
    if (storage == nullptr)
        fail(ByteBufferException::OUT_OF_MEMORY);
    // Bytes between the old limit and the old capacity are not carried over.
    if (_limit > 0)
        memcpy(storage, _buffer, static_cast<size_t>(_limit));
    freeStorage();
    _buffer = storage;
    _capacity += size;
    _limit = _capacity;
    return *this;
}

int16 ByteBuffer::swapEndian(int16 value)
{
    uint16 bits = static_cast<uint16>(value);
    return static_cast<int16>(static_cast<uint16>((bits << 8) | (bits >> 8)));
}

int32 ByteBuffer::swapEndian(int32 value)
{
    return static_cast<int32>(swapUint32(static_cast<uint32>(value)));
}

int64 ByteBuffer::swapEndian(int64 value) { return swapInt64(value); }

} // namespace Kovan
