#include "foundation/Looper.h"

#include "foundation/Trace.h"

namespace Kovan {

Looper::Looper(const char* name, int32 priority, Thread::Policy policy)
    : Thread(name, priority, policy)
    , _state(READY)
{
}

Looper::~Looper()
{
    // Checked here already, before the state mutex and the flag that the body still uses go.
    if (isAlive())
        traceDestroyedWhileRunning();
    KOVAN_CHECK(!isAlive());
}

void Looper::setState(State state)
{
    MutexLocker lock(_stateMutex);
    _state = state;
}

void Looper::suspend()
{
    // Test, clear and change in one step so a quit in between is never overwritten.
    MutexLocker lock(_stateMutex);
    if (WORKING == _state) {
        _sync.reset();
        _state = SUSPENDED;
    }
}

void Looper::resume()
{
    if (WORKING != _state)
        _sync.signal();
}

void Looper::starting() { setState(WORKING); }

void Looper::quitRequested()
{
    setState(TERMINATING);
    resume();
}

void Looper::threadFunc()
{
    while (!isQuitRequested())
        eachThreadLoop();
    setState(READY);
}

void Looper::eachThreadLoop()
{
    if (SUSPENDED == _state) {
        _sync.waitForSignal(0);
        MutexLocker lock(_stateMutex);
        if (TERMINATING != _state)
            _state = WORKING;
        return;
    }
    looperFunc();
}

} // namespace Kovan
