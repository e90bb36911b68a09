#include "tool/RtcFailure.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Kovan {

namespace {

// Control bytes from the command line or a file name would reach the terminal: shown as '?'.
__attribute__((format(printf, 1, 0))) std::string format(const char* fmt, va_list args)
{
    char text[512];
    (void)vsnprintf(text, sizeof text, fmt, args);
    for (char* c = text; *c; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || 0x7F == *c)
            *c = '?';
    }
    return text;
}

} // namespace

void fail(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string message = format(fmt, args);
    va_end(args);
    throw Failure { message };
}

void usageError(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string message = format(fmt, args);
    va_end(args);
    throw UsageError { message };
}

void warn(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    (void)fprintf(stderr, "quillo-rtc: %s\n", format(fmt, args).c_str());
    va_end(args);
}

std::string errorText(int error)
{
    char text[256];
    return strerror_r(error, text, sizeof text);
}

} // namespace Kovan
