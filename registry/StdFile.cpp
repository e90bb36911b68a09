#include "registry/StdFile.h"

#include <fcntl.h>
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

} // namespace Kovan
