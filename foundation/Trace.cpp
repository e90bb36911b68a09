#include "foundation/Trace.h"

#include <cstdarg>
#include <cstdio>

void trace(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    // A trace that cannot be written has nowhere to be reported.
    (void)vfprintf(stderr, fmt, args);
    va_end(args);
}
