// A cursor over some byte store with the same typed vocabulary as StdFile, and its one concrete
// form over a caller's memory block. The memory stream checks every transfer against the block:
// a transfer outside it is a broken precondition, not a result.
//
// Thread safety: none inside; a stream (and the block under it) belongs to one thread at a time.
#pragma once

#include "foundation/Types.h"
#include "registry/ValueTypes.h"

namespace Kovan {

class Stream {
public:
    virtual ~Stream();

    virtual bool moveTo(int32 offset) = 0;
    virtual bool moveBy(int32 offset) = 0;
    virtual bool read(void* data, uint32 size) = 0;
    virtual bool write(const void* data, uint32 size) = 0;
    // Writes zero bytes one at a time; false at the first write that fails.
    virtual bool clear(uint32 size);

    KOVAN_VALUE_TYPES(KOVAN_TYPED_TRANSFERS)
};

class MemoryStream : public Stream {
public:
    // The block stays the caller's; the cursor starts at its first byte.
    MemoryStream(void* buffer, uint32 bufferSize);

    void* buffer() const { return _buffer; }
    uint32 bufferSize() const { return _bufferSize; }
    uint32 offset() const { return _offset; }

    // Cursor moves are not checked; the next transfer is.
    bool moveTo(int32 offset) override;
    bool moveBy(int32 offset) override;
    bool read(void* data, uint32 size) override;
    bool write(const void* data, uint32 size) override;
    bool clear(uint32 size) override;

private:
    void checkBounds(uint32 size, const char* function) const;

    uint8* _buffer;
    uint32 _bufferSize;
    uint32 _offset;
};

} // namespace Kovan
