// Directory scans over opendir/readdir.
#include "foundation/FileUtil.h"
#include "foundation/Trace.h"

#include <cstring>
#include <dirent.h>

namespace Kovan {

// readdir on a stream private to the caller is reentrant on every libc we ship on, and
// readdir_r is deprecated there.
uint32 fileCountInPath(const char* path, const char* ext)
{
    DIR* dir = opendir(path);
    if (!dir)
        return 0;
    uint32 count = 0;
    size_t extLen = strlen(ext);
    while (struct dirent* entry = readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        size_t len = strlen(entry->d_name);
        if (len >= extLen + 2 && 0 == strncmp(entry->d_name + len - extLen, ext, extLen))
            ++count;
    }
    closedir(dir);
    return count;
}

int32 findFilesWithExt(const char* path, const char* ext, Btring<64>* filename, int32 maxCount)
{
    trace("finding files(*.%s) in \"%s\"...\n", ext, path);
    DIR* dir = opendir(path);
    if (!dir)
        return 0;
    int32 count = 0;
    while (count < maxCount) {
        struct dirent* entry = readdir(dir); // NOLINT(concurrency-mt-unsafe)
        if (!entry)
            break;
        if (strlen(entry->d_name) < 63 && checkFileExt(entry->d_name, ext))
            filename[count++] = entry->d_name;
    }
    closedir(dir);
    return count;
}

} // namespace Kovan
