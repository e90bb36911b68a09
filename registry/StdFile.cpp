#include "registry/StdFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

namespace Kovan {

static_assert(StdFile::FROM_START == SEEK_SET && StdFile::FROM_CURRENT == SEEK_CUR
        && StdFile::FROM_END == SEEK_END,
    "seek passes its origin through");

StdFile::StdFile()
    : _file(-1)
{
}

StdFile::~StdFile() { close(); }

bool StdFile::create(const char* filename)
{
    _file = ::open(filename, O_RDWR | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0600);
    return isOpen();
}

bool StdFile::createKeeping(const char* filename)
{
    _file = ::open(filename, O_RDWR | O_CREAT | O_SYNC | O_CLOEXEC, 0600);
    return isOpen();
}

// As O_TRUNC does, leaves anything but a regular file (a device, a FIFO) alone.
bool StdFile::truncate()
{
    struct stat st;
    if (0 != fstat(_file, &st))
        return false;
    return !S_ISREG(st.st_mode) || 0 == ftruncate(_file, 0);
}

bool StdFile::open(const char* filename, uint32 mode)
{
    int flags = (READ_ONLY == mode) ? O_RDONLY : O_RDWR;
    if (READ_WRITE_SYNC == mode)
        flags |= O_SYNC;
    _file = ::open(filename, flags | O_CLOEXEC);
    return isOpen();
}

void StdFile::close()
{
    if (!isOpen())
        return;
    ::close(_file);
    _file = -1;
}

uint32 StdFile::position() const { return static_cast<uint32>(lseek(_file, 0, SEEK_CUR)); }

bool StdFile::seek(int32 pos, int32 origin) { return -1 != lseek(_file, pos, origin); }

bool StdFile::read(void* data, uint32 size) { return ::read(_file, data, size) > 0; }

bool StdFile::write(const void* data, uint32 size) { return -1 != ::write(_file, data, size); }

void StdFile::toggleReadWrite() { (void)position(); }

void StdFile::flush()
{
    if (isOpen())
        fsync(_file);
}

int32 StdFile::readAt(uint32 offset, void* data, uint32 size) const
{
    ssize_t n;
    do
        n = pread(_file, data, size, static_cast<off_t>(offset));
    while (n < 0 && EINTR == errno);
    return static_cast<int32>(n);
}

bool StdFile::writeAt(uint32 offset, const void* data, uint32 size, const void* more,
    uint32 moreSize, uint32* written)
{
    iovec parts[2] = { { const_cast<void*>(data), size }, { const_cast<void*>(more), moreSize } };
    iovec* part = parts;
    int count = (0 != moreSize) ? 2 : 1;
    uint32 done = 0;
    for (;;) {
        const ssize_t n = pwritev(_file, part, count, static_cast<off_t>(offset) + done);
        if (n < 0 && EINTR == errno)
            continue;
        // A write that makes no progress would only repeat.
        if (n <= 0)
            break;
        done += static_cast<uint32>(n);
        for (size_t left = static_cast<size_t>(n); left > 0;) {
            const size_t step = (left < part->iov_len) ? left : part->iov_len;
            part->iov_base = static_cast<uint8*>(part->iov_base) + step;
            part->iov_len -= step;
            left -= step;
            if (0 == part->iov_len && count > 1) {
                ++part;
                --count;
            }
        }
        if (0 == part->iov_len)
            break;
    }
    if (written)
        *written = done;
    return done == size + moreSize;
}

bool StdFile::size(uint32* bytes) const
{
    struct stat st;
    if (0 != fstat(_file, &st) || st.st_size < 0)
        return false;
    const uint64 size = static_cast<uint64>(st.st_size);
    *bytes = (size > UINT32_MAX) ? UINT32_MAX : static_cast<uint32>(size);
    return true;
}

namespace {

uint64 monotonicMilliseconds()
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64>(now.tv_sec) * 1000 + static_cast<uint64>(now.tv_nsec) / 1000000;
}

} // namespace

// flock rather than fcntl record locks: the kernel's lock table (/proc/locks) names the process
// that took a flock lock, while an open-file-description lock shows there, and to F_OFD_GETLK,
// with no process at all; and unlike process-owned record locks, closing some other descriptor
// of the file in the same process does not drop it. The kernel has no timed form, so a wait
// polls, from 1 ms up to 50 ms between tries, and never past its deadline.
bool StdFile::lockExclusive(uint32 waitMilliseconds)
{
    const uint64 deadline = monotonicMilliseconds() + waitMilliseconds;
    for (uint64 pause = 1;; pause = _min(pause * 2, uint64(50))) {
        if (0 == flock(_file, LOCK_EX | LOCK_NB))
            return true;
        if (EINTR == errno)
            continue;
        if (EWOULDBLOCK != errno)
            return false;
        const uint64 now = monotonicMilliseconds();
        if (now >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        const uint64 ms = _min(pause, deadline - now);
        const timespec step
            = { static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000 };
        nanosleep(&step, nullptr);
    }
}

int32 StdFile::lockHolder() const
{
    struct stat st;
    if (0 != fstat(_file, &st))
        return 0;
    FILE* locks = fopen("/proc/locks", "re");
    if (!locks)
        return 0;
    // "1: FLOCK  ADVISORY  WRITE 812 fe:00:10953623 0 EOF"; waiters show "->" after the number.
    char line[256];
    char inode[64];
    (void)snprintf(inode, sizeof(inode), "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
        static_cast<unsigned long long>(st.st_ino));
    int32 holder = 0;
    while (0 == holder && fgets(line, sizeof(line), locks)) {
        char kind[16], mode[16], pid[16], where[64];
        if (4 == sscanf(line, "%*15s %15s %*s %15s %15s %63s", kind, mode, pid, where)
            && 0 == strcmp(kind, "FLOCK") && 0 == strcmp(mode, "WRITE")
            && 0 == strcmp(where, inode)) {
            const long n = strtol(pid, nullptr, 10);
            holder = (0 < n && n <= INT32_MAX) ? static_cast<int32>(n) : 0;
        }
    }
    (void)fclose(locks);
    return holder;
}

} // namespace Kovan
