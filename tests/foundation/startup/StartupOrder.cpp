// A program whose own globals use the foundation before main and after it: a looper started in a
// global's constructor (and waited for, so it is certainly in the thread chain before the
// library's own globals would be built) and stopped in its destructor, and a global profiler.
// Both must still be found in main. Exit status 0, or 1 with the reason.
#include "foundation/Looper.h"
#include "foundation/Profiler.h"
#include "foundation/SyncFlag.h"

#include <cstdio>
#include <cstdlib>

using namespace Kovan;

namespace {

[[noreturn]] void fail(const char* what)
{
    (void)fprintf(stderr, "startup-order: %s\n", what);
    exit(1);
}

struct EarlyLooper : Looper {
    EarlyLooper()
        : Looper("early", 10, Thread::NORMAL)
    {
        if (!run())
            fail("the looper did not start");
        if (SyncFlag::SIGNALED != firstPass.waitForSignal(5000))
            fail("the looper made no pass within 5 s");
    }
    ~EarlyLooper() override
    {
        quit();
        join();
    }
    EarlyLooper(const EarlyLooper&) = delete;
    EarlyLooper& operator=(const EarlyLooper&) = delete;

    void looperFunc() override
    {
        suspend();
        firstPass.signal();
    }

    SyncFlag firstPass;
};

// Defined first: built before anything of the library's in a static link.
Profiler early_profiler("early");
EarlyLooper early_looper;

} // namespace

int main()
{
    if (&early_looper != Thread::findThread("early"))
        fail("the looper started before main is not in the thread chain");
    if (!g_profilerChain.contains(&early_profiler))
        fail("the profiler built before main is not in the profiler chain");
    return 0;
}
