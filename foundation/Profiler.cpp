#include "foundation/Profiler.h"

#include "foundation/Mutex.h"
#include "foundation/Tick.h"
#include "foundation/Trace.h"

namespace Kovan {

// A program's global profiler may be built before this file's globals, or destroyed after them.
KOVAN_PROCESS_WIDE SChain<Profiler> g_profilerChain;

Profiler::Profiler(const char* name)
    : _nextNode(nullptr)
{
    g_profilerChain.addToLast(this);
    KOVAN_CHECK(0 != name);
    _name = name;
    reset();
}

Profiler::~Profiler() { g_profilerChain.remove(this); }

void Profiler::reset()
{
    _beginTick = 0;
    _totalTick = 0;
    _minTick = 0xFFFFFFFFu;
    _maxTick = 0;
    _totalUserData = 0;
    _count = 0;
}

void Profiler::begin() { _beginTick = currentTick(); }

void Profiler::end(uint32 userData)
{
    uint32 d = diffTick(_beginTick, currentTick());
    _totalTick += d;
    if (_minTick > d)
        _minTick = d;
    if (_maxTick < d)
        _maxTick = d;
    _totalUserData += userData;
    _count += 1;
}

} // namespace Kovan
