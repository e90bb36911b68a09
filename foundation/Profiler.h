// A named stopwatch over many runs: begin() and end(userData) bracket each run. Every live
// profiler is in g_profilerChain, in order of construction; the chain has no lock.
//
// Thread safety: none; one thread uses a profiler, and the program serialises construction
// and destruction (the chain has no lock).
#pragma once

#include "foundation/Btring.h"
#include "foundation/SChain.h"
#include "foundation/Types.h"

namespace Kovan {

class Profiler {
public:
    explicit Profiler(const char* name);
    ~Profiler();
    Profiler(const Profiler&) = delete;
    Profiler& operator=(const Profiler&) = delete;

    void reset();
    void begin();
    void end(uint32 userData);

    const char* name() const { return _name.cString(); }
    uint32 count() const { return _count; }
    uint32 totalTick() const { return _totalTick; }
    uint32 minTick() const { return _minTick; }
    uint32 maxTick() const { return _maxTick; }
    // The mean duration in ms; 0 before the first run.
    uint32 average() const { return 0 == _count ? 0 : _totalTick / _count; }
    // The sum of the userData values given to end().
    uint32 userData() const { return _totalUserData; }
    Profiler* next() const { return _nextNode; }

private:
    friend class SChain<Profiler>;

    Btring<32> _name;
    uint32 _beginTick;
    uint32 _totalTick;
    uint32 _minTick;
    uint32 _maxTick;
    uint32 _totalUserData;
    uint32 _count;
    Profiler* _nextNode;
};

extern SChain<Profiler> g_profilerChain;

} // namespace Kovan
