// A broken precondition is a finding: report it and abort, so that libFuzzer keeps the input.
#include "foundation/Trace.h"

#include <cstdio>
#include <cstdlib>

namespace Kovan {

void assertFunc(const char* expression, const char* file, unsigned int line, const char* function)
{
    fprintf(stderr, "%s: [%s:%d] %s\n", expression, file, line, function);
    fflush(stderr);
    abort();
}

} // namespace Kovan
