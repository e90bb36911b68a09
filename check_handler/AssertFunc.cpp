// The usual assertion hook: "EXPR: [file:line] function" on standard error, then abort. The tool
// links it, and so do the tests, examples, benchmarks and fuzzers: death tests then match the
// very line a technician sees, and libFuzzer keeps the input that aborted. What was already
// printed is flushed first, so the output before the broken check is not lost.
#include "foundation/FileUtil.h"
#include "foundation/Trace.h"

#include <cstdio>
#include <cstdlib>

namespace Kovan {

void assertFunc(const char* expression, const char* file, unsigned int line, const char* function)
{
    (void)fprintf(stderr, "%s: [%s:%d] %s\n", expression, filenameOnly(file), line, function);
    (void)fflush(stdout);
    abort();
}

} // namespace Kovan
