#include "registry/Registry.h"

#include "foundation/Trace.h"
#include "registry/Adler32.h"
#include "registry/RegistryWalk.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <vector>

namespace Kovan {

static_assert(sizeof(Registry::Item) == Registry::ITEM_SIZE, "a record is 12 bytes in the file");

namespace {

uint32 loadLe32(const uint8* p)
{
    return uint32(p[0]) | (uint32(p[1]) << 8) | (uint32(p[2]) << 16) | (uint32(p[3]) << 24);
}

void storeLe16(uint8* p, uint16 v)
{
    p[0] = uint8(v);
    p[1] = uint8(v >> 8);
}

void storeLe32(uint8* p, uint32 v)
{
    storeLe16(p, uint16(v));
    storeLe16(p + 2, uint16(v >> 16));
}

} // namespace

static_assert(std::is_integral<pthread_t>::value, "a thread handle fits an atomic word");

Registry::ProcessLock Registry::_mutex;

int32 Registry::ProcessLock::acquire(uint32 timeout)
{
    // A compile-time proof that _mutex is built before any dynamic initialisation runs.
    static_assert((ProcessLock(), true), "the process-wide lock is constant-initialised");
    // Only this thread ever stores its own id, so the answer cannot be stale.
    if (pthread_equal(pthread_self(), _owner.load()))
        return OPEN_IN_THIS_THREAD;
    int rc = 0;
    if (WAIT_FOREVER == timeout) {
        rc = pthread_mutex_lock(&_handle);
    } else {
        // On the monotonic clock: a clock step by the time service must not stretch the wait.
        timespec deadline = {};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(timeout / 1000);
        deadline.tv_nsec += static_cast<long>(timeout % 1000) * 1000000;
        if (deadline.tv_nsec >= 1000000000) {
            ++deadline.tv_sec;
            deadline.tv_nsec -= 1000000000;
        }
        rc = pthread_mutex_clocklock(&_handle, CLOCK_MONOTONIC, &deadline);
    }
    if (0 != rc)
        return OPEN_IN_OTHER_THREAD;
    _owner.store(pthread_self());
    return 0;
}

void Registry::ProcessLock::release()
{
    _owner.store(pthread_t());
    pthread_mutex_unlock(&_handle);
}

namespace {

// Codes whose cause is a system call, so errno at the throw is the cause.
int32 errorOf(int32 code)
{
    return (1 == code || 2 == code || 4 == code || Registry::IN_USE == code) ? errno : 0;
}

} // namespace

Registry::Exception::Exception(int32 code, const char* s)
    : Exception(s, code, 0, errorOf(code))
{
}

Registry::Exception::Exception(int32 code, const char* s, uint32 id)
    : Exception(s, code, id, errorOf(code))
{
}

Registry::Exception::Exception(const char* s, int32 code, uint32 id, int32 error)
    : Kovan::Exception("Registry", code, nullptr, 0)
    , _path(s)
    , _id(id)
    , _error(error)
{
}

Registry::Exception::Exception(int32 code, const uint32* path, uint32 depth, uint32 id)
    : Kovan::Exception("Registry", code, nullptr, 0)
    , _id(id)
    , _error(errorOf(code))
{
    KOVAN_CHECK(0 != path);
    if (0 == depth)
        _path = "/";
    for (uint32 i = 0; i < depth; ++i)
        _path.appendf("/%d", static_cast<int32>(path[i]));
}

const char* Registry::Exception::describe(int32 code)
{
    static const char* const TEXTS[] = { "no failure", "cannot create the file",
        "cannot open the file", "damaged file or failed read", "write failed", "no such key",
        "no such id", "the stored size differs", "more than is stored", "in use by another process",
        "a registry is open in this thread already",
        "another thread kept its registry open past the time-out", "not a path",
        "the stored type differs", "the id exists already" };
    return (0 <= code && code <= EXISTS) ? TEXTS[code] : "unknown failure";
}

Registry::Printer::~Printer() = default;

Registry::Scanner::Scanner()
    : _depth(0)
    , _buffer(nullptr)
    , _bufferSize(0)
{
}

Registry::Scanner::~Scanner() = default;

Registry::Registry(const char* filename, bool writable)
    : _writable(false)
    , _version(0)
    , _appProduct(0)
    , _appOem(0)
    , _appVersion {}
    , _appBuild {}
    , _reserved {}
    , _checksum(0)
    , _path {}
    , _depth(0)
    , _findPathItem(false)
    , _findPrevItem(false)
    , _pathItem {}
    , _pathItemOffset(0)
    , _prevItem {}
    , _prevItemOffset(0)
    , _locked(false)
    , _legacy(false)
    , _lockTimeout(0)
    , _openTimeout(WAIT_FOREVER)
{
    if (filename)
        open(filename, writable);
}

Registry::~Registry() { close(); }

void Registry::create(const char* filename)
{
    KOVAN_CHECK(!_file.isOpen());
    takeProcessLock(filename);
    if (!_file.createKeeping(filename)) {
        const int error = errno;
        _locked = false;
        _mutex.release();
        errno = error;
        throw Exception(1, filename);
    }
    takeFileLock(filename);
    if (!_file.truncate()) {
        const int error = errno;
        close();
        errno = error;
        throw Exception(1, filename);
    }
    _writable = true;
    _version = VERSION;
    _legacy = false;
    _depth = 0;
    saveHeader();
    Item root = {};
    saveItem(root, ROOT_ITEM_OFFSET, nullptr, 0, 0);
    setPath(0);
}

void Registry::open(const char* filename, bool writable)
{
    KOVAN_CHECK(!_file.isOpen());
    takeProcessLock(filename);
    if (!_file.open(filename, writable ? StdFile::READ_WRITE_SYNC : StdFile::READ_ONLY)) {
        const int error = errno;
        _locked = false;
        _mutex.release();
        errno = error;
        throw Exception(2, filename);
    }
    if (writable)
        takeFileLock(filename);
    _writable = writable;
    _depth = 0;
    loadHeader();
    setPath(0);
}

void Registry::takeProcessLock(const char* what)
{
    const int32 code = _mutex.acquire(_openTimeout);
    if (0 != code) {
        errno = 0;
        throw Exception(code, what);
    }
    _locked = true;
}

// Fails as a failure to reach the file does: file closed, process-wide lock released.
void Registry::takeFileLock(const char* filename)
{
    if (_file.lockExclusive(_lockTimeout))
        return;
    const int32 error = errno;
    const int32 holder = (EWOULDBLOCK == error) ? _file.lockHolder() : 0;
    close();
    errno = error;
    throw Exception(EWOULDBLOCK == error ? IN_USE : 2, filename, static_cast<uint32>(holder));
}

void Registry::close()
{
    _file.close();
    if (_locked) {
        _locked = false;
        _mutex.release();
    }
}

void Registry::lock()
{
    const int32 code = _mutex.acquire(_openTimeout);
    if (0 != code)
        throw Exception(code, "lock");
}

void Registry::unlock() { _mutex.release(); }

void Registry::setAppInfo(uint32 product, uint32 oem, const char* version, const char* build)
{
    _appProduct = product;
    _appOem = oem;
    copyString(_appVersion, sizeof(_appVersion), version);
    copyString(_appBuild, sizeof(_appBuild), build);
}

uint32 Registry::rootOffset() const { return _legacy ? LEGACY_ROOT_OFFSET : ROOT_ITEM_OFFSET; }

Registry::Exception Registry::failure(int32 code, uint32 id) const
{
    return Exception(code, _path, _depth, id);
}

void Registry::loadHeader()
{
    // One read for the whole header: a file shorter than its header is refused rather than
    // half read.
    uint8 header[ROOT_ITEM_OFFSET];
    const int32 n = _file.readAt(0, header, sizeof(header));
    if (n < 16)
        throw Exception(3, "Header");
    const uint32 magic = loadLe32(header);
    const uint32 version = loadLe32(header + 4);
    _appProduct = loadLe32(header + 8);
    _appOem = loadLe32(header + 12);

    if (REGISTRY_MAGIC == magic) {
        if (n < static_cast<int32>(ROOT_ITEM_OFFSET))
            throw Exception(3, "Header");
        memcpy(_appVersion, header + 16, 16);
        memcpy(_appBuild, header + 32, 8);
        memcpy(_reserved, header + 40, 4);
        _checksum = loadLe32(header + CHECKSUM_OFFSET);
        _appVersion[16] = '\0';
        _appBuild[8] = '\0';
        _version = version;
        _legacy = false;
        return;
    }
    // Without the magic, bytes 8..11 tell a legacy file from anything else.
    if (_appProduct < 1 || _appProduct > 4)
        throw Exception(3, "Header");
    _version = VERSION_1;
    _legacy = true;
}

void Registry::saveHeader()
{
    _checksum = 0;
    if (!_file.seek(0, StdFile::FROM_START) || !_file.writeUint32(REGISTRY_MAGIC)
        || !_file.writeUint32(_version) || !_file.writeUint32(_appProduct)
        || !_file.writeUint32(_appOem) || !_file.write(_appVersion, 16)
        || !_file.write(_appBuild, 8) || !_file.write(_reserved, 4)
        || !_file.writeUint32(_checksum))
        throw Exception(4, "header");
}

void Registry::loadItem(const uint8* bytes, Item* item)
{
    item->id = static_cast<uint16>(bytes[0] | (bytes[1] << 8));
    item->type = static_cast<uint16>(bytes[2] | (bytes[3] << 8));
    item->next = loadLe32(bytes + NEXT_FIELD_OFFSET);
    item->child = loadLe32(bytes + CHILD_FIELD_OFFSET);
}

void Registry::saveItem(
    const Item& item, uint32 offset, const void* value, uint32 size, uint32 valueId)
{
    KOVAN_CHECK(item.id < UINT16_MAX);
    KOVAN_CHECK(item.type < UINT16_MAX);
    uint8 bytes[ITEM_SIZE];
    storeLe16(bytes, item.id);
    storeLe16(bytes + 2, item.type);
    storeLe32(bytes + NEXT_FIELD_OFFSET, item.next);
    storeLe32(bytes + CHILD_FIELD_OFFSET, item.child);
    uint32 written = 0;
    if (!_file.writeAt(offset, bytes, ITEM_SIZE, value, size, &written))
        throw failure(4, written < ITEM_SIZE ? item.id : valueId);
}

Registry::Walk::Walk(Registry& registry)
    : _registry(registry)
    , _seen(0)
    , _visited(0)
    , _windowStart(0)
    , _windowLength(0)
{
}

bool Registry::Walk::inWindow(uint64 offset, uint64 size) const
{
    return offset >= _windowStart && offset + size <= uint64(_windowStart) + _windowLength;
}

bool Registry::Walk::fetch(uint32 offset, uint32 size)
{
    if (inWindow(offset, size))
        return true;
    const int32 n = _registry._file.readAt(offset, _window, WINDOW_SIZE);
    _windowStart = offset;
    _windowLength = (n > 0) ? static_cast<uint32>(n) : 0;
    const uint64 end = uint64(offset) + _windowLength;
    if (end > _seen)
        _seen = static_cast<uint32>(_min(end, uint64(UINT32_MAX)));
    return inWindow(offset, size);
}

bool Registry::Walk::reaches(uint64 end)
{
    uint32 size = 0;
    if (end > _seen && _registry._file.size(&size) && size > _seen)
        _seen = size;
    return end <= _seen;
}

void Registry::Walk::load(uint32 offset, Item* item)
{
    if (!fetch(offset, ITEM_SIZE))
        throw _registry.failure(3, 0);
    loadItem(_window + (offset - _windowStart), item);
}

void Registry::Walk::follow(uint32 offset, Item* item)
{
    if (++_visited > _seen / ITEM_SIZE + 1 && !reaches(uint64(_visited - 1) * ITEM_SIZE))
        throw _registry.failure(3, 0);
    if (offset < _registry.rootOffset() + ITEM_SIZE)
        throw _registry.failure(3, 0);
    load(offset, item);
}

uint32 Registry::Walk::firstChild(const Item& item, uint32 offset)
{
    if (_registry._legacy && _registry.rootOffset() == offset)
        return fetch(LEGACY_FIRST_CHILD, ITEM_SIZE) ? LEGACY_FIRST_CHILD : 0;
    return item.child;
}

bool Registry::Walk::holdsValue(uint32 offset, uint32 size)
{
    return reaches(uint64(offset) + ITEM_SIZE + size);
}

bool Registry::Walk::read(uint32 offset, void* data, uint32 size)
{
    if (size <= WINDOW_SIZE && fetch(offset, size)) {
        memcpy(data, _window + (offset - _windowStart), size);
        return true;
    }
    return size > WINDOW_SIZE
        && _registry._file.readAt(offset, data, size) == static_cast<int32>(size);
}

void Registry::resolvePath(Walk& walk)
{
    if (_findPathItem) {
        findPathItem(walk);
        return;
    }
    walk.load(_pathItemOffset, &_pathItem);
    _pathItem.child = walk.firstChild(_pathItem, _pathItemOffset);
}

void Registry::findPathItem(Walk& walk)
{
    KOVAN_CHECK(_file.isOpen());
    KOVAN_CHECK(_findPathItem == true);

    _pathItemOffset = rootOffset();
    walk.load(_pathItemOffset, &_pathItem);
    _pathItem.child = walk.firstChild(_pathItem, _pathItemOffset);

    if (0 != _depth) {
        Siblings level(walk, _pathItem.child);
        for (uint32 d = 0;;) {
            if (!level.next())
                throw failure(5, 0);
            if (level.item().id != _path[d])
                continue;
            _pathItem = level.item();
            _pathItemOffset = level.offset();
            // Keys and values share ids; a value can hold no path, and following its size as
            // if it were a child would read records that are not there.
            if (KEY != _pathItem.type)
                throw failure(5, 0);
            if (++d == _depth)
                break;
            level.enter(_pathItem.child);
        }
    }
    _findPathItem = false;
}

void Registry::findPrevItem(Walk& walk)
{
    KOVAN_CHECK(_file.isOpen());
    KOVAN_CHECK(_findPrevItem == true);

    _prevItem = _pathItem;
    _prevItemOffset = _pathItemOffset;
    for (Siblings children(walk, _pathItem.child); children.next();) {
        _prevItem = children.item();
        _prevItemOffset = children.offset();
    }
    _findPrevItem = false;
}

uint32 Registry::findItem(Walk& walk, uint32 id, uint32 size, Item* item)
{
    KOVAN_CHECK(0 != id && 0 < size && 0 != item);
    const uint32 offset = locateItem(walk, id, item);
    if (0 == offset)
        throw failure(6, id);
    if (item->size != size)
        throw failure(7, id);
    // A value cut off by the end of the file cannot be read or safely overwritten.
    if (!walk.holdsValue(offset, size))
        throw failure(3, id);
    return offset;
}

uint32 Registry::locateItem(Walk& walk, uint32 id, Item* item)
{
    for (Siblings children(walk, _pathItem.child); children.next();) {
        if (children.item().id == id) {
            *item = children.item();
            return children.offset();
        }
    }
    return 0;
}

uint32 Registry::getInfo(uint32 id, uint32* type, uint32* size)
{
    try {
        Walk walk(*this);
        resolvePath(walk);
        Item item;
        const uint32 offset = locateItem(walk, id, &item);
        if (0 == offset)
            throw failure(6, id);
        const uint32 bytes = (KEY == item.type) ? 0 : item.size;
        if (!walk.holdsValue(offset, bytes))
            throw failure(3, id);
        *type = item.type;
        *size = bytes;
    } catch (const Exception& e) {
        return static_cast<uint32>(e.code());
    }
    return 0;
}

uint32 Registry::addItem(const Item& item, const void* value, uint32 id)
{
    KOVAN_CHECK(KEY != item.type);
    return appendItem(item, value, id);
}

void Registry::addKey(uint32 id)
{
    Item item = {};
    item.id = static_cast<uint16>(id);
    item.type = KEY;
    const uint32 offset = appendItem(item, nullptr, id);
    itemAdded(item, offset);
}

// Two synchronous writes per add, in this order: the record with its value at the end of the
// file, then the link to it. A crash between them leaves a record that nothing reaches.
uint32 Registry::appendItem(const Item& item, const void* value, uint32 id)
{
    if (_findPathItem || _findPrevItem) {
        Walk walk(*this);
        if (_findPathItem)
            findPathItem(walk);
        if (_findPrevItem)
            findPrevItem(walk);
    }
    const uint32 size = (KEY == item.type) ? 0 : item.size;
    uint32 offset = 0;
    // Offsets are 32 bits wide: a file cannot grow past what a link can name.
    if (!_file.size(&offset))
        throw failure(4, item.id);
    if (uint64(offset) + ITEM_SIZE + size > UINT32_MAX) {
        errno = EFBIG;
        throw failure(4, item.id);
    }
    // A legacy root cannot point at its first child; that child has to land right behind it.
    if (_legacy && rootOffset() == _pathItemOffset && 0 == _pathItem.child
        && LEGACY_FIRST_CHILD != offset) {
        errno = 0;
        throw failure(4, item.id);
    }
    saveItem(item, offset, value, size, id);
    return offset;
}

void Registry::itemAdded(const Item& item, uint32 offset)
{
    // Only the link field of the predecessor is written: the rest of its record is unchanged,
    // a single four-byte write cannot leave half a link behind when power fails, and a record
    // that came damaged from the file is linked without being judged by saveItem's checks.
    if (0 == _pathItem.child) {
        if (!(_legacy && rootOffset() == _pathItemOffset))
            saveLink(_pathItemOffset + CHILD_FIELD_OFFSET, offset, _pathItem.id);
        _pathItem.child = offset;
    } else {
        saveLink(_prevItemOffset + NEXT_FIELD_OFFSET, offset, _prevItem.id);
        _prevItem.next = offset;
    }
    _prevItem = item;
    _prevItemOffset = offset;
}

void Registry::saveLink(uint32 at, uint32 offset, uint32 id)
{
    uint8 bytes[4];
    storeLe32(bytes, offset);
    if (!_file.writeAt(at, bytes, sizeof(bytes)))
        throw failure(4, id);
}

const uint32* Registry::path(uint32* depth) const
{
    if (depth)
        *depth = _depth;
    return _path;
}

void Registry::setPath(uint32 first, ...)
{
    va_list args;
    va_start(args, first);
    uint32 depth = 0;
    for (uint32 id = first; 0 != id; id = va_arg(args, uint32)) {
        KOVAN_CHECK(depth < MAX_DEPTH);
        _path[depth++] = id;
    }
    va_end(args);
    _depth = depth;
    _findPathItem = true;
    _findPrevItem = true;
}

void Registry::pathDown(uint32 id)
{
    KOVAN_CHECK(_depth < MAX_DEPTH);
    _path[_depth++] = id;
    _findPathItem = true;
    _findPrevItem = true;
}

void Registry::pathUp()
{
    KOVAN_CHECK(0 < _depth);
    --_depth;
    _findPathItem = true;
    _findPrevItem = true;
}

template <typename T> uint16 Registry::typeCode()
{
    uint16 code = KEY;
#define KOVAN_REGISTRY_TYPE_CODE(N, U, CODE)                                                       \
    if (std::is_same<T, U>::value)                                                                 \
        code = CODE;
    KOVAN_VALUE_TYPES(KOVAN_REGISTRY_TYPE_CODE)
#undef KOVAN_REGISTRY_TYPE_CODE
    return code;
}

namespace {

// The byte size a count of elements stands for; false when the count is negative or the size
// does not fit the file's 32-bit field, which no stored item can match.
template <typename T> bool byteSize(int32 count, uint32* size)
{
    const uint64 bytes = static_cast<uint64>(static_cast<int64>(count)) * sizeof(T);
    if (count < 0 || bytes > UINT32_MAX)
        return false;
    *size = static_cast<uint32>(bytes);
    return true;
}

} // namespace

template <typename T> Registry::Extent Registry::extentOf(int32 count, int32 wanted)
{
    Extent extent = {};
    extent.fits = byteSize<T>(count, &extent.size);
    // Below 1: all of them. Past the count, the byte count is past the size and fails alike.
    extent.move = (wanted < 1) ? 0 : static_cast<uint64>(wanted) * sizeof(T);
    return extent;
}

Registry::Extent Registry::extentOf(uint32 size, uint32 wanted)
{
    const Extent extent = { true, size, wanted };
    return extent;
}

// The item that a set or get reaches, and how many of its bytes move.
uint32 Registry::findValue(Walk& walk, uint32 id, const Extent& extent, Item* item, uint32* at)
{
    resolvePath(walk);
    if (!extent.fits)
        throw failure(7, id);
    *at = findItem(walk, id, extent.size, item) + ITEM_SIZE;
    const uint64 n = (0 == extent.move) ? extent.size : extent.move;
    if (n > extent.size)
        throw failure(8, id);
    return static_cast<uint32>(n);
}

template <typename T> void Registry::addValues(uint32 id, const T* data, int32 count)
{
    uint32 size = 0;
    const bool fits = byteSize<T>(count, &size);
    KOVAN_CHECK(0 <= count && fits);
    addBlock(id, typeCode<T>(), data, size);
}

template <typename T>
void Registry::setValues(uint32 id, const T* data, int32 count, int32 countToSet)
{
    setBlock(id, data, extentOf<T>(count, countToSet));
}

template <typename T> uint32 Registry::getValues(uint32 id, T* data, int32 count, int32 countToGet)
{
    return getBlock(id, data, extentOf<T>(count, countToGet));
}

namespace {

// The bytes of values as the file holds them: the caller's own memory, or for doubles a copy
// with the two words of each element exchanged.
template <typename T> class FileBytes {
public:
    FileBytes(const T* data, uint32 size)
        : _bytes(data)
    {
        if (!detail::needsWordSwap<T>())
            return;
        const uint8* p = reinterpret_cast<const uint8*>(data);
        _copy.assign(p, p + size);
        for (uint32 i = 0; i + sizeof(T) <= size; i += sizeof(T))
            detail::swapDoubleWords(&_copy[i]);
        _bytes = _copy.data();
    }
    const void* data() const { return _bytes; }

private:
    const void* _bytes;
    std::vector<uint8> _copy;
};

template <typename T> void toHostOrder(T* data, uint32 size)
{
    if (detail::needsWordSwap<T>()) {
        for (uint32 i = 0; i < size / sizeof(T); ++i)
            detail::swapDoubleWords(&data[i]);
    }
}

} // namespace

template <typename T> void Registry::addBlock(uint32 id, uint16 type, const T* data, uint32 size)
{
    Item item = {};
    item.id = static_cast<uint16>(id);
    item.type = type;
    item.size = size;
    const FileBytes<T> bytes(data, size);
    const uint32 offset = addItem(item, bytes.data(), id);
    itemAdded(item, offset);
}

template <typename T> void Registry::setBlock(uint32 id, const T* data, const Extent& extent)
{
    Walk walk(*this);
    Item item;
    uint32 at = 0;
    const uint32 n = findValue(walk, id, extent, &item, &at);
    _file.toggleReadWrite();
    const FileBytes<T> bytes(data, n);
    if (!_file.writeAt(at, bytes.data(), n))
        throw failure(4, id);
}

template <typename T> uint32 Registry::getBlock(uint32 id, T* data, const Extent& extent)
{
    try {
        Walk walk(*this);
        Item item;
        uint32 at = 0;
        const uint32 n = findValue(walk, id, extent, &item, &at);
        if (!walk.read(at, data, n))
            throw failure(3, item.id);
        toHostOrder(data, n);
    } catch (const Exception& e) {
        return static_cast<uint32>(e.code());
    }
    return 0;
}

#define KOVAN_REGISTRY_INSTANTIATE(N, T, ...)                                                      \
    template void Registry::addValues<T>(uint32, const T*, int32);                                 \
    template void Registry::setValues<T>(uint32, const T*, int32, int32);                          \
    template uint32 Registry::getValues<T>(uint32, T*, int32, int32);
KOVAN_VALUE_TYPES(KOVAN_REGISTRY_INSTANTIATE)
#undef KOVAN_REGISTRY_INSTANTIATE

void Registry::addData(uint32 id, uint32 type, const void* data, uint32 size)
{
    addBlock(id, static_cast<uint16>(type), static_cast<const uint8*>(data), size);
}

void Registry::setData(uint32 id, const void* data, uint32 size, uint32 sizeToSet)
{
    setBlock(id, static_cast<const uint8*>(data), extentOf(size, sizeToSet));
}

uint32 Registry::getData(uint32 id, void* buffer, uint32 size, uint32 sizeToGet)
{
    return getBlock(id, static_cast<uint8*>(buffer), extentOf(size, sizeToGet));
}

void Registry::addString(uint32 id, const char* buffer, int32 bufferSize)
{
    trace("Registry::addString() is obsoleted. Use addBinary() for string\n");
    KOVAN_CHECK(0 < bufferSize);
    addData(id, STRING, buffer, static_cast<uint32>(bufferSize - 1));
}

void Registry::setString(uint32 id, const char* buffer, int32 bufferSize)
{
    trace("Registry::setString() is obsoleted. Use setBinary() for string\n");
    KOVAN_CHECK(0 < bufferSize);
    setData(id, buffer, static_cast<uint32>(bufferSize - 1), 0);
}

void Registry::getString(uint32 id, char* buffer, int32 bufferSize)
{
    trace("Registry::getString() is obsoleted. Use getBinary() for string\n");
    KOVAN_CHECK(0 < bufferSize);
    getData(id, buffer, static_cast<uint32>(bufferSize - 1), 0);
    buffer[bufferSize - 1] = '\0';
}

void Registry::addBinary(uint32 id, const void* data, uint32 size)
{
    addData(id, BINARY, data, size);
}

void Registry::setBinary(uint32 id, const void* data, uint32 size, uint32 sizeToSet)
{
    setData(id, data, size, sizeToSet);
}

void Registry::getBinary(uint32 id, void* buffer, uint32 size, uint32 sizeToGet)
{
    getData(id, buffer, size, sizeToGet);
}

bool Registry::adler32OfFile(uint32* adler)
{
    uint32 size = 0;
    if (!_file.seek(0, StdFile::FROM_END) || (size = _file.position()) < ROOT_ITEM_OFFSET
        || !_file.seek(ROOT_ITEM_OFFSET, StdFile::FROM_START))
        return false;
    uint8 chunk[4096];
    uint32 sum = 1;
    for (uint32 left = size - ROOT_ITEM_OFFSET; left > 0;) {
        const uint32 n = _min(left, static_cast<uint32>(sizeof(chunk)));
        if (!_file.read(chunk, n))
            return false;
        sum = adler32(sum, chunk, n);
        left -= n;
    }
    *adler = sum;
    return true;
}

bool Registry::testFileChecksum()
{
    if (_version < 3)
        return true;
    const uint32 position = _file.position();
    uint32 computed = 0;
    if (!_file.seek(CHECKSUM_OFFSET, StdFile::FROM_START) || !_file.readUint32(&_checksum)
        || !adler32OfFile(&computed))
        return false;
    _file.seek(static_cast<int32>(position), StdFile::FROM_START);
    return computed == _checksum;
}

bool Registry::saveFileChecksum()
{
    if (_version < 3)
        return true;
    const uint32 position = _file.position();
    uint32 computed = 0;
    if (!adler32OfFile(&computed))
        return false;
    _checksum = computed;
    if (!_file.seek(CHECKSUM_OFFSET, StdFile::FROM_START) || !_file.writeUint32(_checksum))
        return false;
    _file.seek(static_cast<int32>(position), StdFile::FROM_START);
    return true;
}

} // namespace Kovan
