// A thread whose body calls looperFunc() over and over until a quit is requested, and which can
// be parked between two calls (suspend) and woken from any thread (resume). There is no pause
// between passes: a subclass paces itself.
//
// Thread safety: suspend, resume, quit and the state queries from any thread; run, join and
// destruction by the owner only.
#pragma once

#include "foundation/Mutex.h"
#include "foundation/SyncFlag.h"
#include "foundation/Thread.h"

#include <atomic>

namespace Kovan {

class Looper : public Thread {
public:
    enum State { READY = 0, WORKING = 1, SUSPENDED = 2, TERMINATING = 3 };

    Looper(const char* name, int32 priority, Thread::Policy policy);
    // Neither quits nor joins; destroying a looper that is alive is a failed check "!isAlive()".
    ~Looper() override;

    // Only a WORKING looper is parked; typically called by the looper itself.
    void suspend();
    // Wakes a parked looper; the looper itself changes the state when it wakes.
    void resume();

    bool isQuitRequested() const { return TERMINATING == _state; }
    bool isWorking() const { return WORKING == _state; }
    bool isSuspend() const { return SUSPENDED == _state; }
    State state() const { return _state; }

    // One pass: wait while suspended, otherwise one call of looperFunc().
    void eachThreadLoop();

protected:
    void starting() override;
    void threadFunc() override;
    void quitRequested() override;
    virtual void looperFunc() = 0;

private:
    void setState(State state);

    std::atomic<State> _state; // changed under _stateMutex, read without it
    Mutex _stateMutex;
    SyncFlag _sync;
};

} // namespace Kovan
