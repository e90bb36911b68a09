// Globals that use the foundation before main and after it: a looper started in a global's
// constructor (waited for, so it is in the thread chain before the library's own globals would be
// built) and stopped in its destructor, and a global profiler. Both must still be found in main.
#include "foundation/Looper.h"
#include "foundation/Profiler.h"
#include "foundation/SyncFlag.h"

#include <cstdio>

using namespace Kovan;

namespace {

struct EarlyLooper : Looper {
    EarlyLooper()
        : Looper("early", 10, Thread::NORMAL)
    {
        started = run() && SyncFlag::SIGNALED == firstPass.waitForSignal(5000);
    }
    ~EarlyLooper() override
    {
        quit();
        join();
    }
    void looperFunc() override
    {
        suspend();
        firstPass.signal();
    }
    SyncFlag firstPass;
    bool started = false;
};

// Defined first: built before anything of the library's in a static link.
Profiler early_profiler("early");
EarlyLooper early_looper;

} // namespace

int main()
{
    const char* fault = !early_looper.started          ? "the looper made no first pass"
        : &early_looper != Thread::findThread("early") ? "the looper is not in the chain"
        : !g_profilerChain.contains(&early_profiler)   ? "the profiler is not in the chain"
                                                       : nullptr;
    return nullptr == fault ? 0 : (fprintf(stderr, "startup-order: %s\n", fault), 1);
}
