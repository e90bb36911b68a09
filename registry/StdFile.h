// One POSIX file descriptor with typed reads and writes. Every value moves in the layout the
// registry file uses: native little-endian bytes, except doubles, which keep the ARM FPA word
// order on every host. Nothing here throws or traces: failures are false results and errno.
//
// Thread safety: none inside; a StdFile belongs to one owner at a time (the registry serialises
// its use). The writer lock is the kernel's, between open files, not between threads.
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

    // Modes of open. Any mode but READ_ONLY opens for writing.
    static constexpr uint32 READ_ONLY = 0;
    static constexpr uint32 READ_WRITE = 1;
    static constexpr uint32 READ_WRITE_SYNC = 2;

    // Origins of seek, the values of SEEK_SET, SEEK_CUR and SEEK_END.
    static constexpr int32 FROM_START = 0;
    static constexpr int32 FROM_CURRENT = 1;
    static constexpr int32 FROM_END = 2;

    bool isOpen() const { return -1 != _file; }
    // Truncates an existing file; every write is synchronous.
    bool create(const char* filename);
    // Like create, but an existing file keeps its bytes until truncate: a writer that must lock
    // the file first cannot wipe it under the process that holds it.
    bool createKeeping(const char* filename);
    bool truncate();
    // READ_WRITE_SYNC adds synchronous writes to READ_WRITE. Never creates.
    bool open(const char* filename, uint32 mode);
    void close();

    // All ones when the position cannot be had.
    uint32 position() const;
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

    // Positional forms, which leave the position alone: one system call per transfer, so a
    // reader can take a whole run of records at once and a writer put a record and the value
    // behind it down together.
    // The bytes read at `offset` (fewer at the end of the file, 0 past it), -1 on an error.
    int32 readAt(uint32 offset, void* data, uint32 size) const;
    // Writes `size` bytes of `data` and then `moreSize` bytes of `more` from `offset` on, going
    // on after a short write; true when all of them were written. `written`, when given, gets
    // how many were.
    bool writeAt(uint32 offset, const void* data, uint32 size, const void* more = nullptr,
        uint32 moreSize = 0, uint32* written = nullptr);
    // The size of the file now, all ones for 4 GiB and above; false when it cannot be had.
    bool size(uint32* bytes) const;

    // The writer's lock (flock, exclusive): held by this descriptor, and by any copy a fork made
    // of it, until the last of them closes, which the kernel does when a process dies. Polls for
    // up to `waitMilliseconds`; false with errno EWOULDBLOCK when another descriptor holds it.
    bool lockExclusive(uint32 waitMilliseconds);
    // The process that took the lock on this file, as the kernel's lock table names it; 0 when
    // no process in sight holds one or the system cannot tell.
    int32 lockHolder() const;

    KOVAN_VALUE_TYPES(KOVAN_TYPED_TRANSFERS)

private:
    int32 _file;
};

} // namespace Kovan
