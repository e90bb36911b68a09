// How quillo-rtc ends a command that cannot go on: a Failure is one line on standard error and
// exit status 1; a UsageError is one line, the usage text, and exit status 2. Both are thrown
// before anything is written wherever the command can know in advance, so a failed command leaves
// the chip as it found it.
#pragma once

#include <string>

namespace Kovan {

struct Failure {
    std::string message;
};

struct UsageError {
    std::string message;
};

[[noreturn]] void fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void usageError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A line on standard error for a command that still succeeds ("quillo-rtc: " first).
void warn(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// strerror_r's text for `error`, as a string.
std::string errorText(int error);

} // namespace Kovan
