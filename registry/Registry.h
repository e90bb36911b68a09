// The settings registry: a tree of numbered keys holding typed values, kept in one binary file
// that only grows. Nothing is cached but the position of the current path; every lookup walks
// the records in the file, and every write is synchronous.
//
// File layout (little-endian; offsets from the start of the file):
//
//   OFFSET  SIZE  FIELD
//   0       4     magic 0x34299100 (absent in a legacy, version-1 file)
//   4       4     version (3 for new files)
//   8       4     app-product
//   12      4     app-oem
//   16      16    app-version text, NUL-terminated when shorter
//   32      8     app-build text, same rule
//   40      4     reserved
//   44      4     Adler-32 of bytes 48..end, kept current only on request
//   48      12    root record (at 0 in a legacy file)
//
// Record (Item), 12 bytes: id (2), type (2), next sibling (4), first child for a key or value
// byte count for a value (4). A value's bytes follow its record. Offset 0 means "none".
//
// A file is data that may have been damaged by a power cut: every walk is bounded by what the
// file can hold, and a record or value that lies beyond the end of the file, a link that loops
// or nesting deeper than the API can build fails with code 3 rather than hanging or crashing.
//
// Other processes may read the file while one process writes it. An add writes its record (with
// the value) at the end and then the link to it, each synchronously, so a reader that follows
// links never meets a record that is not all there, and a lookup sees every add that returned
// before it began. A link past the end of the file as a walk first saw it is a record appended
// since, not damage: the walk looks at the file again before it fails.
//
// Between processes, one writer at a time is enforced: a writable open (and create) takes an
// exclusive flock on the file, which the kernel drops when the last descriptor of that open goes,
// so a process that dies, even by SIGKILL, leaves no lock behind. A second writer fails with code
// 9 (IN_USE) at once, or after waiting up to setLockTimeout; its id() is the process holding the
// lock when the kernel's lock table can name it. Nothing is merged and nothing is lost: the loser
// never wrote. A read-only open takes no lock and works beside a writer as described above.
// The lock is advisory: it binds every program that writes through this class, not a program
// that writes the file by other means. A process that forks while it holds a writable registry
// shares the lock with its child until both have closed it (exec closes it: the descriptor is
// close-on-exec). Within one process the process-wide mutex below keeps one registry open at a
// time, so a program that opens one file from one process sees no difference.
//
// Additions beside the original API, with their defaults: the writer lock between processes
// (taken by every writable open and create; no wait unless setLockTimeout), the refusal of a
// second open in the thread that holds the process-wide lock (which used to hang), an open
// time-out for other threads (none unless setOpenTimeout: they wait, as they always did),
// getInfo, scanPath, the dump to a Printer, Exception::error and describe, and failure codes 9
// to 14. print, the typed family and everything else behave as they always did;
// registry/Settings.h is the checked API beside them.
//
// Thread safety: a Registry object is used by one thread at a time (the one that opened it, or
// threads the program serialises itself); open and create take the process-wide lock and close
// releases it, so other threads' opens wait for it (or give up after setOpenTimeout), and a
// second open in the thread that holds it fails at once. Exception is a plain value; a Scanner
// or Printer belongs to the scan or dump that runs it.
#pragma once

#include "foundation/Btring.h"
#include "foundation/Exception.h"
#include "foundation/Types.h"
#include "registry/StdFile.h"
#include "registry/ValueTypes.h"

#include <atomic>
#include <pthread.h>

namespace Kovan {

class Registry {
public:
    enum Type {
        KEY = 0,
        BOOL = 1,
        INT8 = 2,
        UINT8 = 3,
        INT16 = 4,
        UINT16 = 5,
        INT32 = 6,
        UINT32 = 7,
        INT64 = 8,
        UINT64 = 9,
        FLOAT = 10,
        DOUBLE = 11,
        STRING = 12,
        BINARY = 13,
    };

    static constexpr uint32 REGISTRY_MAGIC = 0x34299100;
    static constexpr uint32 CHECKSUM_OFFSET = 44;
    static constexpr uint32 ROOT_ITEM_OFFSET = 48;
    // The size of a record in the file; a value's bytes follow it.
    static constexpr uint32 ITEM_SIZE = 12;
    static constexpr uint32 VERSION_1 = 1;
    static constexpr uint32 VERSION = 3;
    static constexpr uint32 MAX_DEPTH = 15;

    struct Item {
        uint16 id;
        uint16 type;
        uint32 next;
        union {
            uint32 child;
            uint32 size;
        };
    };

    // Failure codes: 1 create, 2 open, 3 read, 4 write, 5 no such path, 6 no such id,
    // 7 stored size differs, 8 count beyond the stored one, 9 the file is in use by a writer in
    // another process (an addition: the original codes stop at 8).
    static constexpr int32 IN_USE = 9;
    // Additions for misuse within one process: an open or create, or lock, from a thread that
    // holds the process-wide lock already fails at once (a plain mutex would hang it for
    // ever); one from another thread that gives up after its open time-out.
    static constexpr int32 OPEN_IN_THIS_THREAD = 10;
    static constexpr int32 OPEN_IN_OTHER_THREAD = 11;
    // Additions for the checked settings API (registry/Settings.h): a path or id it refuses,
    // a stored type other than the one asked for, an id that exists where a new one was asked
    // for.
    static constexpr int32 BAD_PATH = 12;
    static constexpr int32 TYPE_DIFFERS = 13;
    static constexpr int32 EXISTS = 14;
    // An open time-out that waits as long as it takes, the original behaviour.
    static constexpr uint32 WAIT_FOREVER = UINT32_MAX;

    class Exception : public Kovan::Exception {
    public:
        // Whole-file failures: `s` is the file name, "Header" or "header".
        Exception(int32 code, const char* s);
        // A whole-file failure that names something more: for IN_USE, `id` is the process
        // holding the lock, 0 when the system cannot tell.
        Exception(int32 code, const char* s, uint32 id);
        // Failures at a path: the text reads "/" at the root, else "/1/20/3".
        Exception(int32 code, const uint32* path, uint32 depth, uint32 id);

        const char* path() const { return _path.cString(); }
        uint32 id() const { return _id; }
        // errno of the failed system call for codes 1, 2, 4 and IN_USE; 0 for the others,
        // whose cause is the file's content or the caller's request.
        int32 error() const { return _error; }
        // A few words for a failure code, e.g. "no such id"; "unknown failure" past the table.
        static const char* describe(int32 code);

    private:
        Exception(const char* s, int32 code, uint32 id, int32 error);

        Btring<256> _path;
        uint32 _id;
        int32 _error;
    };

    // A visitor of the whole tree in pre-order. With a buffer set, each value's first bytes
    // (up to the buffer's size) are read into it before itemLoaded.
    class Scanner {
    public:
        Scanner();
        virtual ~Scanner();

        int32 depth() const { return _depth; }
        uint8* buffer() const { return _buffer; }
        uint32 bufferSize() const { return _bufferSize; }
        void setBuffer(uint8* buffer, uint32 size)
        {
            _buffer = buffer;
            _bufferSize = size;
        }

        virtual void begin() { }
        virtual void headerLoaded(const Registry& registry) { (void)registry; }
        virtual void keyLoaded(uint16 id) = 0;
        // `size` is the full stored size, whatever part of it reached the buffer.
        virtual void itemLoaded(uint16 id, uint16 type, uint32 size) = 0;
        virtual void end() { }

    private:
        friend class Registry;

        // 0 for the root record, 1 for the top level, and so on. Left where it was when a scan
        // ends in an exception.
        int32 _depth;
        uint8* _buffer;
        uint32 _bufferSize;
    };

    // With a name, opens it at once.
    explicit Registry(const char* filename = nullptr, bool writable = false);
    // Closes the file and releases the process-wide lock if this object holds it.
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Both take the process-wide lock and keep it until close: one registry is open per
    // process at a time. A failure to reach the file releases the lock; a failure after that
    // leaves the file open for close. A writable open and create also take the file's writer
    // lock first (IN_USE when another process holds it; create truncates only once it has it).
    void create(const char* filename);
    void open(const char* filename, bool writable);
    void close();
    // How long a writable open or create waits for another process's writer lock; 0, the
    // default, does not wait. Kept across opens.
    void setLockTimeout(uint32 milliseconds) { _lockTimeout = milliseconds; }
    uint32 lockTimeout() const { return _lockTimeout; }
    // How long open, create and lock wait while another thread of this process has a registry
    // open: WAIT_FOREVER, the default, as they always did; after a finite time they fail with
    // OPEN_IN_OTHER_THREAD. Kept across opens.
    void setOpenTimeout(uint32 milliseconds) { _openTimeout = milliseconds; }
    uint32 openTimeout() const { return _openTimeout; }

    // The process-wide lock, for grouping work while no registry is open in this thread; lock
    // throws as open does when this thread holds it already or the open time-out passes.
    void lock();
    void unlock();

    uint32 version() const { return _version; }
    uint32 appProduct() const { return _appProduct; }
    uint32 appOem() const { return _appOem; }
    const char* appVersion() const { return _appVersion; }
    const char* appBuild() const { return _appBuild; }
    // Takes effect in a file only when called before create.
    void setAppInfo(uint32 product, uint32 oem, const char* version, const char* build);

    uint32 checksum() const { return _checksum; }
    // Both succeed at once for files below version 3.
    bool testFileChecksum();
    bool saveFileChecksum();

    const uint32* path(uint32* depth) const;
    // Ids from the root downwards, ended by 0: setPath(3, 7, 0) is key 7 under key 3.
    void setPath(uint32 first, ...);
    void pathDown(uint32 id);
    void pathUp();

    void addKey(uint32 id);

    // The typed family: for each value type an add, a set and a get of one value and of an
    // array. Add appends (it never looks for an existing id); set overwrites in place; get
    // returns 0 or the failure code and never throws. Lookups match id and byte size only.
    // A count to set or get below 1 means the whole array.
#define KOVAN_REGISTRY_TYPED(N, T, ...)                                                            \
    void add##N(uint32 id, T value) { addValues(id, &value, 1); }                                  \
    void set##N(uint32 id, T value) { setValues(id, &value, 1, 1); }                               \
    uint32 get##N(uint32 id, T* value) { return getValues(id, value, 1, 1); }                      \
    void add##N##Array(uint32 id, const T* dataArray, int32 count)                                 \
    {                                                                                              \
        addValues(id, dataArray, count);                                                           \
    }                                                                                              \
    void set##N##Array(uint32 id, const T* data, int32 count, int32 countToSet)                    \
    {                                                                                              \
        setValues(id, data, count, countToSet);                                                    \
    }                                                                                              \
    uint32 get##N##Array(uint32 id, T* dataArray, int32 count, int32 countToGet)                   \
    {                                                                                              \
        return getValues(id, dataArray, count, countToGet);                                        \
    }
    KOVAN_VALUE_TYPES(KOVAN_REGISTRY_TYPED)
#undef KOVAN_REGISTRY_TYPED

    // The type code and byte size of the first item with `id` under the current key (a key
    // has size 0); returns 0 or the failure code like the gets (5 no such path, 6 no such id,
    // 3 damage), never throws. The typed family itself never tells a value's type or size.
    uint32 getInfo(uint32 id, uint32* type, uint32* size);

    // Raw bytes under any type code but KEY. A size to set or get of 0 means all of it.
    void addData(uint32 id, uint32 type, const void* data, uint32 size);
    void setData(uint32 id, const void* data, uint32 size, uint32 sizeToSet);
    uint32 getData(uint32 id, void* buffer, uint32 size, uint32 sizeToGet);

    // Obsolete: store bufferSize - 1 bytes of the buffer as STRING, whatever the text's length.
    void addString(uint32 id, const char* buffer, int32 bufferSize);
    void setString(uint32 id, const char* buffer, int32 bufferSize);
    void getString(uint32 id, char* buffer, int32 bufferSize);

    // Opaque bytes as BINARY, the way to store text now.
    void addBinary(uint32 id, const void* data, uint32 size);
    void setBinary(uint32 id, const void* data, uint32 size, uint32 sizeToSet);
    void getBinary(uint32 id, void* buffer, uint32 size, uint32 sizeToGet);

    // Where the lines of a dump go, one call per line; `length` counts the final newline.
    // A printer that writes to a terminal escapes what it passes on (registry/TextEscape.h).
    class Printer {
    public:
        virtual ~Printer();
        virtual void line(const char* text, uint32 length) = 0;
    };

    // Walks the whole tree from the root; the current path is left as it was.
    void scan(Scanner* scanner);
    // Walks the subtree of the key that the current path names, reporting that key at depth 0
    // as the root is reported (code 5 when the path does not exist). No trace line on failure.
    void scanPath(Scanner* scanner);
    // A readable dump through trace; never throws. Writes the file's bytes as they are.
    void print(const char* label);
    // The same dump, but a walk that fails lets its exception out instead of reporting it
    // (print catches it), so a caller can tell a whole dump from one cut short.
    void dump(const char* label);
    // The dump of print, line by line to `printer`; lets the walk's exception out. The title is
    // cut to 31 characters without a trace line.
    void dump(const char* label, Printer& printer);
    // The lines of the subtree under the current path only, its key first and unindented:
    // no title, header or closing line.
    void dumpPath(Printer& printer);

private:
    // Where the two link fields sit in a record.
    static constexpr uint32 NEXT_FIELD_OFFSET = 4;
    static constexpr uint32 CHILD_FIELD_OFFSET = 8;
    // A legacy file has no header: its root sits at 0 and its first child right behind it.
    static constexpr uint32 LEGACY_ROOT_OFFSET = 0;
    static constexpr uint32 LEGACY_FIRST_CHILD = LEGACY_ROOT_OFFSET + ITEM_SIZE;

    // The bounded walk through the records that every lookup, add and scan goes through
    // (registry/RegistryWalk.h).
    class Walk;
    class Siblings;

    // A typed request in bytes: the stored size it must match (`fits` false when the count
    // cannot be a size), and how many bytes move, 0 for all of them.
    struct Extent {
        bool fits;
        uint32 size;
        uint64 move;
    };
    template <typename T> static Extent extentOf(int32 count, int32 wanted);
    static Extent extentOf(uint32 size, uint32 wanted);

    void loadHeader();
    void saveHeader();
    static void loadItem(const uint8* bytes, Item* item);
    // Writes the record at `offset` and the `size` value bytes behind it in one synchronous
    // write; a failure names `valueId` once the record itself is down.
    void saveItem(const Item& item, uint32 offset, const void* value, uint32 size, uint32 valueId);
    void findPathItem(Walk& walk);
    void findPrevItem(Walk& walk);
    // The offset of the record found.
    uint32 findItem(Walk& walk, uint32 id, uint32 size, Item* item);
    // The first child with `id`, whatever its size; 0 when there is none.
    uint32 locateItem(Walk& walk, uint32 id, Item* item);
    uint32 addItem(const Item& item, const void* value, uint32 id);
    void itemAdded(const Item& item, uint32 offset);

    uint32 rootOffset() const;
    // Resolves the path when stale, else reads the path item again: another process may have
    // added its first child since.
    void resolvePath(Walk& walk);
    void scanLevel(Scanner* scanner, Walk& walk, uint32 first, uint32 level);
    // The walk of scan and scanPath from the key record `key` at `offset`, `level` keys below
    // the root.
    void scanFrom(Scanner* scanner, Walk& walk, const Item& key, uint32 offset, uint32 level);
    void takeFileLock(const char* filename);
    Exception failure(int32 code, uint32 id) const;
    uint32 appendItem(const Item& item, const void* value, uint32 id);
    void saveLink(uint32 at, uint32 offset, uint32 id);
    bool adler32OfFile(uint32* adler);

    template <typename T> void addValues(uint32 id, const T* data, int32 count);
    template <typename T> void setValues(uint32 id, const T* data, int32 count, int32 countToSet);
    template <typename T> uint32 getValues(uint32 id, T* data, int32 count, int32 countToGet);
    // What the typed family and the raw-data operations share; T is the element type whose word
    // order the file keeps (uint8 for raw bytes).
    template <typename T> void addBlock(uint32 id, uint16 type, const T* data, uint32 size);
    template <typename T> void setBlock(uint32 id, const T* data, const Extent& extent);
    template <typename T> uint32 getBlock(uint32 id, T* data, const Extent& extent);
    // How many bytes move, and from where (`at`).
    uint32 findValue(Walk& walk, uint32 id, const Extent& extent, Item* item, uint32* at);
    template <typename T> static uint16 typeCode();

    StdFile _file;
    bool _writable;
    uint32 _version;
    uint32 _appProduct;
    uint32 _appOem;
    char _appVersion[17];
    char _appBuild[9];
    uint8 _reserved[4];
    uint32 _checksum;
    uint32 _path[16];
    uint32 _depth;
    bool _findPathItem;
    bool _findPrevItem;
    Item _pathItem;
    uint32 _pathItemOffset;
    Item _prevItem;
    uint32 _prevItemOffset;
    // Whether this object holds the process-wide lock, so that a close of a registry that never
    // opened cannot release another one's lock.
    bool _locked;
    // A file without the magic: root at 0, and its first child, if any, right behind it.
    bool _legacy;
    uint32 _lockTimeout;
    uint32 _openTimeout;

    // The process-wide lock. Constant-initialised, so a global's constructor may open a
    // registry before main whatever the order of initialisation, and never destroyed, so one
    // may close it from a global's destructor too. It knows whether the calling thread holds
    // it, which a plain mutex cannot tell without hanging.
    class ProcessLock {
    public:
        constexpr ProcessLock() = default;
        // 0, OPEN_IN_THIS_THREAD at once, or OPEN_IN_OTHER_THREAD after `timeout` ms.
        int32 acquire(uint32 timeout);
        void release();

    private:
        pthread_mutex_t _handle = PTHREAD_MUTEX_INITIALIZER;
        // The holder, 0 for none (glibc's thread handles are addresses), whichever thread
        // closes the registry in the end. Not a std::thread::id: its constructor is not
        // constexpr, and the lock would lose its constant initialisation.
        std::atomic<pthread_t> _owner { pthread_t() };
    };

    void takeProcessLock(const char* what);

    static ProcessLock _mutex;
};

} // namespace Kovan
