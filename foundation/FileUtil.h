// File-name and file helpers. The directory scans live in the operating-system half.
//
// Thread safety: callable from any thread; no state of their own.
#pragma once

#include "foundation/Btring.h"
#include "foundation/Trace.h"
#include "foundation/Types.h"

#include <cstdio>
#include <cstring>

namespace Kovan {

// The text after the last slash or backslash; points into `pathname`. A path that ends in a
// separator is a broken precondition. Inline, so the check handler (check_handler/) has it
// without linking the foundation library, whichever kind of it the program links.
inline const char* filenameOnly(const char* pathname)
{
    const char* p = pathname + strlen(pathname) - 1;
    KOVAN_CHECK('\\' != *p && '/' != *p);
    while (p != pathname) {
        --p;
        if ('\\' == *p || '/' == *p)
            return p + 1;
    }
    return pathname;
}

// Whether the name ends with a dot and then `ext` (given without its dot), ignoring case.
bool checkFileExt(const char* pathname, const char* ext);

// Copies `srcFile` to its end into `dstFile`; neither is closed. A non-blocking source that has
// no data a hundred times in a row fails.
bool copyFile(FILE* dstFile, FILE* srcFile);

// Entries whose names end in `ext` (case-sensitive, no dot required); 0 when unreadable.
uint32 fileCountInPath(const char* path, const char* ext);

// Stores up to maxCount names that checkFileExt accepts, in directory order; returns how many.
int32 findFilesWithExt(const char* path, const char* ext, Btring<64>* filename, int32 maxCount);

} // namespace Kovan
