#include "registry/StdFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

} // namespace Kovan
