#include "foundation/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// Sink and context travel together so that a trace never pairs one sink with another's context.
struct Sink {
    Kovan::TraceSink function;
    void* context;
    const Sink* older; // every pair ever installed stays reachable, so none counts as a leak
};

// Constant-initialised: a global's constructor may trace before this file's initialisers run.
std::atomic<const Sink*> _sink { nullptr };
std::mutex _installing;
const Sink* _installed = nullptr;

} // namespace

void trace(const char* fmt, ...)
{
    const Sink* sink = _sink.load(std::memory_order_acquire);
    va_list args;
    va_start(args, fmt);
    if (nullptr == sink) {
        // A trace that cannot be written has nowhere to be reported.
        (void)vfprintf(stderr, fmt, args);
        va_end(args);
        return;
    }
    char line[512];
    va_list again;
    va_copy(again, args);
    const int length = vsnprintf(line, sizeof(line), fmt, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(length) < sizeof(line)) {
        va_end(again);
        sink->function(line, static_cast<size_t>(length), sink->context);
        return;
    }
    std::vector<char> longer(static_cast<size_t>(length) + 1);
    (void)vsnprintf(longer.data(), longer.size(), fmt, again);
    va_end(again);
    sink->function(longer.data(), static_cast<size_t>(length), sink->context);
}

namespace Kovan {

void setTraceSink(TraceSink sink, void* context)
{
    // Each installed pair stays alive for good: a thread may still be using the one before, and
    // programs install a sink once or twice, not per message.
    const std::lock_guard<std::mutex> lock(_installing);
    const Sink* next = nullptr;
    if (nullptr != sink) {
        next = new Sink { sink, context, _installed };
        _installed = next;
    }
    _sink.store(next, std::memory_order_release);
}

} // namespace Kovan
