// One POSIX file descriptor with typed reads and writes. Every value moves in the layout the
// registry file uses: native little-endian bytes, except doubles, which keep the ARM FPA word
// order on every host. Nothing here throws or traces: failures are false results and errno.
#pragma once

#include "foundation/Types.h"
#include "registry/ValueTypes.h"

namespace Kovan {

class StdFile {
public:
    StdFile();
    ~StdFile();
    StdFile(const StdFile&) = delete;
    StdFile& operator=(const StdFile&) = delete;

    bool isOpen() const { return -1 != _file; }
    // Truncates an existing file; every write is synchronous.
    bool create(const char* filename);
    // mode 0: read-only; any other: read-write; 2 adds synchronous writes. Never creates.
    bool open(const char* filename, uint32 mode);
    void close();

    // All ones when the position cannot be had.
    uint32 position() const;
    // origin 0: from the start, 1: from the current offset, 2: from the end.
    bool seek(int32 pos, int32 origin);
    // One system call each. A short read or write still counts as success; a read that reaches
    // the end of the file at once fails.
    bool read(void* data, uint32 size);
    bool write(const void* data, uint32 size);
    // Called between reading a record and overwriting what follows it; a descriptor needs
    // nothing there.
    void toggleReadWrite();
    // Writes already reach the descriptor unbuffered; this forces them to the device.
    void flush();

    KOVAN_VALUE_TYPES(KOVAN_TYPED_TRANSFERS)

private:
    int32 _file;
};

} // namespace Kovan
