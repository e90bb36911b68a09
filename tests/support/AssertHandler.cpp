// The test programs' assertion handler: the same line as the tool, then abort, so death tests
// match the exact expression text, file name and function of each check.
#include "foundation/FileUtil.h"
#include "foundation/Trace.h"

#include <cstdio>
#include <cstdlib>

namespace Kovan {

void assertFunc(const char* expression, const char* file, unsigned int line, const char* function)
{
    fprintf(stderr, "%s: [%s:%d] %s\n", expression, filenameOnly(file), line, function);
    fflush(stderr);
    abort();
}

} // namespace Kovan
