// Named POSIX threads. A subclass supplies threadFunc(); while the body runs the thread is in the
// process-wide chain, where findThread looks it up by kernel id or by name.
//
// Thread safety: quit, findThread and the queries from any thread; run, join, setPriority and
// destruction by the owner only.
#pragma once

#include "foundation/Btring.h"
#include "foundation/Mutex.h"
#include "foundation/SChain.h"
#include "foundation/Types.h"

#include <atomic>
#include <pthread.h>
#include <sys/types.h>

namespace Kovan {

class Thread {
public:
    enum Policy { REALTIME = 0, NORMAL = 1 };

    Thread(const char* name, int32 priority, Policy policy);
    // Stops nothing: an owner quits and joins a thread before destroying it. Destroying a thread
    // that is still alive is a failed check "!isAlive()" (after one trace line with its name),
    // not a crash later in the orphaned body.
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the body; false when the system refused to create the thread.
    bool run();
    // Asks an alive thread to stop through quitRequested(), on the caller's thread.
    void quit();
    // Waits for the body to end; it does not ask it to.
    void join();
    // A refusal by the system (no right to real-time scheduling) is ignored.
    void setPriority(int32 priority, Policy policy);

    static void sleep(uint32 msec);
    static void yield();

    bool isStarting() const { return _starting; }
    bool isAlive() const { return _starting || 0 != _id; }
    pid_t id() const { return _id; }
    const char* name() const { return _name.cString(); }
    void setName(const char* name) { _name = name; }
    int32 priority() const { return _priority; }
    Policy policy() const { return _policy; }

    static Thread* findThread(pid_t id);
    static Thread* findThread(const char* name);

protected:
    virtual void starting() { }
    virtual void started() { }
    virtual void threadFunc() = 0;
    virtual void quitRequested() { }
    virtual void finished() { }

    // The line that precedes the check of a destructor that finds its thread alive.
    void traceDestroyedWhileRunning() const;

private:
    friend class SChain<Thread>;

    static void* pthreadThreadFunc(void* param);
    static void addToThreadChain(Thread* thread);
    static void removeFromThreadChain(Thread* thread);

    // Linux half: the kernel id of the calling thread, and the scheduling call itself.
    static pid_t currentThreadId();
    void applySchedule();

    Thread* _nextNode;
    pthread_t _handle;
    // Written once per transition by the starter and the new thread, read without a lock.
    std::atomic<pid_t> _id;
    std::atomic<bool> _starting;
    Btring<32> _name;
    int32 _priority;
    Policy _policy;
    // A POSIX thread was created and not yet joined or detached; touched by the owner only.
    bool _joinPending;

    static SChain<Thread> _threadChain;
    static Mutex _threadChainMutex;
};

} // namespace Kovan
