// A fixed-capacity byte array with a position, a limit and a mark, for bytes on their way to or
// from a socket. Multi-byte values are written and read in the buffer's byte order (big-endian
// unless changed). The storage is owned (allocated here) or wrapped (the caller's array, never
// freed here).
//
// Every failed check throws ByteBufferException before anything changes, with one exception: the
// absolute multi-byte readers and writers move the position to the index first, and when the
// relative operation they then call throws, the position stays at the index.
//
// Unlike java.nio, position() and limit() keep the mark: callers reset() to a mark set before a
// rewind, and reset() refuses a mark that now lies beyond the limit.
#pragma once

#include "foundation/Types.h"
#include "net/ByteBufferException.h"
#include "net/ByteOrder.h"

namespace Kovan {

class ByteBuffer {
public:
    // Owned storage of `capacity` bytes; a negative capacity throws ILLEGAL_ARGUMENT.
    explicit ByteBuffer(int capacity);
    // Wraps `array`, which must hold `capacity` bytes.
    ByteBuffer(int capacity, char* array);
    // Wraps the `length` bytes that start `offset` bytes into `array`.
    ByteBuffer(char* array, int offset, int length);
    // No storage (capacity 0) until wrap() gives it some.
    ByteBuffer();
    virtual ~ByteBuffer();

    // Wraps `array` with capacity `length`: position 0, limit `length`, no mark, big-endian.
    // `offset` must lie inside the array (0 <= offset < length) but does not move the start of the
    // storage: the capacity already covers the whole array. Owned storage is freed.
    ByteBuffer& wrap(char* array, int length, int offset);

    bool isWrapped() const { return _wrapped; }
    // The byte at the current position: where a read into the buffer lands and where a write
    // from it starts.
    char* buffer() const { return _buffer == nullptr ? nullptr : _buffer + _position; }

    ByteOrder* order() const { return _order; }
    // Only ORDER_BIG_ENDIAN and ORDER_LITTLE_ENDIAN; anything else throws ILLEGAL_ARGUMENT.
    ByteBuffer& order(ByteOrder* order);

    int capacity() const { return _capacity; }
    int position() const { return _position; }
    ByteBuffer& position(int newPosition);
    int limit() const { return _limit; }
    ByteBuffer& limit(int newLimit);
    int remaining() const { return _limit - _position; }
    bool hasRemaining() const { return _position < _limit; }

    ByteBuffer& mark();
    ByteBuffer& reset();
    // Position 0, limit the capacity, no mark: ready to be filled again.
    ByteBuffer& clear();
    // Limit the position, position 0, no mark: what was written is ready to be read.
    ByteBuffer& flip();
    // Position 0, no mark: read again what lies before the limit.
    ByteBuffer& rewind();

    // Relative reads advance the position by the size read.
    char get();
    bool getBool();
    int16 getShort();
    int32 getInt();
    int64 getInt64();
    ByteBuffer& get(char* dst, int offset, int length);
    ByteBuffer& get(char* dst, int length);

    // Absolute reads leave the position where it was.
    char get(int index);
    int16 getShort(int index);
    int32 getInt(int index);
    int64 getInt64(int index);

    // Writers are virtual and call one another virtually: a derived buffer that overrides
    // put(const char*, int, int) sees every bulk and multi-byte write.
    virtual ByteBuffer& put(char b);
    virtual ByteBuffer& put(int index, char b);
    virtual ByteBuffer& putShort(short value);
    virtual ByteBuffer& putShort(int index, short value);
    virtual ByteBuffer& putInt(int value);
    virtual ByteBuffer& putInt(int index, int value);
    virtual ByteBuffer& putInt64(int64 value);
    virtual ByteBuffer& putInt64(int index, int64 value);
    virtual ByteBuffer& put(const char* src, int length);
    virtual ByteBuffer& put(const char* src, int offset, int length);
    // Copies src's remaining bytes; src's position is not advanced.
    virtual ByteBuffer& put(ByteBuffer* src);

protected:
    // Grows owned storage by `size` bytes, keeping the bytes below the limit; the new limit is
    // the new capacity. Wrapped storage is the caller's and cannot grow: ILLEGAL_ARGUMENT.
    ByteBuffer& lengthen(int size);

private:
    ByteBuffer(const ByteBuffer&);
    ByteBuffer& operator=(const ByteBuffer&);

    void initialize(int capacity, bool wrap, char* array);
    void freeStorage();
    bool isNative() const { return _order == ByteOrder::nativeOrder(); }
    // Copies `size` bytes at the position into `value` and advances.
    void readRaw(void* value, int size);
    // The typed reads and writes in the buffer's byte order, relative and absolute.
    template <typename T> T getValue();
    template <typename T> T getValueAt(int index);
    template <typename T> ByteBuffer& putValue(T value);
    template <typename T> ByteBuffer& putValueAt(int index, T value);

    static int16 swapEndian(int16 value);
    static int32 swapEndian(int32 value);
    static int64 swapEndian(int64 value);

    bool _wrapped;
    ByteOrder* _order;
    int _capacity;
    int _position;
    int _limit;
    int _mark;
    char* _buffer;
};

} // namespace Kovan
