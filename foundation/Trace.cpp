#include "foundation/Trace.h"

#include <cstdarg>
#include <cstdio>

void trace(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
}
