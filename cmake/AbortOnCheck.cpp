// The assertion hook of the programs in this tree that have none of their own (tests, examples,
// benchmarks, fuzzers): the tool's line on standard error, then abort. Death tests match the
// line's exact expression text, file name and function; libFuzzer keeps the input that aborted.
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
