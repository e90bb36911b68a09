// A one-shot signal with a timed wait, for one waiter and any number of signallers. A signal
// given before the wait is consumed at once; the flag is always clear after a wait.
//
// Thread safety: one waiter and any number of signallers, from any threads.
#pragma once

#include "foundation/Types.h"

#include <atomic>
#include <pthread.h>

namespace Kovan {

class SyncFlag {
public:
    enum WaitResult { SIGNALED = 0, TIMEOUT = 1 };

    SyncFlag();
    ~SyncFlag();
    SyncFlag(const SyncFlag&) = delete;
    SyncFlag& operator=(const SyncFlag&) = delete;

    // Read without the lock: a hint, not a synchronisation point.
    bool isSignaled() const;
    void reset();
    // A second signal before a wait is absorbed.
    void signal();
    // 0 waits without end. The deadline is taken from the wall clock, so timeouts above
    // 2146483 ms are outside the contract.
    WaitResult waitForSignal(uint32 timeoutMilisecond);

private:
    pthread_cond_t _handle;
    std::atomic<bool> _signaled; // written under _mutex only
    pthread_mutex_t _mutex;
};

} // namespace Kovan
