// Diagnostics shared by every Kovan library: the trace line writer, the assertion hook whose body
// the program supplies, and the checks that feed it.
//
// Thread safety: trace from any thread (lines of several threads may interleave); the check
// handler may be reached from any thread.
#pragma once

#include "foundation/Types.h"

#include <cstddef>

// Formats like printf and writes to standard error. No prefix, no newline, no lock, no flush:
// each message carries its own newline. A program that has installed a sink (below) gets the
// formatted text there instead.
void trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

namespace Kovan {

// Where trace's text goes when a program wants it somewhere else than standard error: a program
// that reports its own failures in one line of its own keeps the libraries' lines out of the
// user's way (or in a log). `text` is one formatted message (usually a line with its newline),
// `length` its bytes; `context` is what was given with the sink. A sink may be called from any
// thread that traces, at the same time: it keeps its own order.
using TraceSink = void (*)(const char* text, size_t length, void* context);
// Installs `sink` (null: back to standard error) for every later trace of the process. Safe to
// call from any thread; a trace already under way finishes with the sink it started with.
void setTraceSink(TraceSink sink, void* context = nullptr);

// Called on a broken precondition with the check's source text, file, line and function.
// Supplied by the program that links the libraries; it must not return.
//
// A link that fails with "undefined reference to `Kovan::assertFunc(char const*, char const*,
// unsigned int, char const*)'" means the program has no body for it. Either link the usual one,
// which prints "EXPR: [file:line] function" on standard error and aborts:
//     target_link_libraries(app PRIVATE Kovan::check_handler)   (CMake, package libkovan-dev)
// or define it in the program, with exactly this signature, in namespace Kovan.
[[noreturn]] void assertFunc(
    const char* expression, const char* file, unsigned int line, const char* function);

} // namespace Kovan

// Checks are compiled into every build: the text of the expression is what the user sees.
#define KOVAN_CHECK(expr)                                                                          \
    ((expr) ? (void)0 : ::Kovan::assertFunc(#expr, __FILE__, __LINE__, __func__))

// The networking library reports the full signature of the failing function.
#define KOVAN_CHECK_SIG(expr)                                                                      \
    ((expr) ? (void)0 : ::Kovan::assertFunc(#expr, __FILE__, __LINE__, __PRETTY_FUNCTION__))

// A check whose function name is given explicitly, for constructors and helpers whose
// reported name differs from what __func__ would give.
#define KOVAN_CHECK_IN(expr, function)                                                             \
    ((expr) ? (void)0 : ::Kovan::assertFunc(#expr, __FILE__, __LINE__, function))
