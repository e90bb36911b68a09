// The benchmark programs' assertion hook: the failed check on standard error, then abort.
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
