#include "foundation/FileUtil.h"

#include "foundation/Trace.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace Kovan {

bool checkFileExt(const char* pathname, const char* ext)
{
    const char* p = pathname + strlen(pathname);
    const char* e = ext + strlen(ext);
    while (e != ext) {
        if (p == pathname)
            return false;
        --p;
        --e;
        if (toupper(static_cast<unsigned char>(*p)) != toupper(static_cast<unsigned char>(*e)))
            return false;
    }
    if (p == pathname)
        return false;
    return '.' == *(p - 1);
}

bool copyFile(FILE* dstFile, FILE* srcFile)
{
    char buffer[4096];
    int retry = 0;
    while (!feof(srcFile)) {
        errno = 0;
        size_t n = fread(buffer, 1, sizeof(buffer), srcFile);
        if (0 == n) {
            if (EAGAIN == errno) {
                // A non-blocking source with nothing yet; the stream's error flag is cleared so
                // the next read really asks the descriptor again.
                clearerr(srcFile);
                if (++retry > 99)
                    return false;
                continue;
            }
            if (ferror(srcFile))
                return false;
            continue;
        }
        retry = 0;
        size_t written = 0;
        while (written < n) {
            written += fwrite(buffer + written, 1, n - written, dstFile);
            if (ferror(dstFile))
                return false;
        }
    }
    return true;
}

} // namespace Kovan
