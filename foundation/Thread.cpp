#include "foundation/Thread.h"

#include "foundation/Trace.h"

#include <cstring>

namespace Kovan {

// A program's global may start a thread before main, or join one after it.
KOVAN_PROCESS_WIDE SChain<Thread> Thread::_threadChain;
KOVAN_PROCESS_WIDE Mutex Thread::_threadChainMutex;

Thread::Thread(const char* name, int32 priority, Policy policy)
    : _nextNode(nullptr)
    , _handle()
    , _id(0)
    , _starting(false)
    , _name(name)
    , _priority(priority)
    , _policy(policy)
    , _joinPending(false)
{
}

void Thread::quit()
{
    if (!isAlive())
        return;
    trace("Thread[\"%s\"] is quit-requested\n", _name.cString());
    quitRequested();
}

void Thread::traceDestroyedWhileRunning() const
{
    trace(
        "Thread[\"%s\"] is destroyed while running: quit() and join() it first\n", _name.cString());
}

void* Thread::pthreadThreadFunc(void* param)
{
    Thread* thread = static_cast<Thread*>(param);
    thread->_id = currentThreadId();
    thread->_starting = false;
    addToThreadChain(thread);
    thread->setPriority(thread->_priority, thread->_policy);
    thread->started();
    thread->threadFunc();
    thread->finished();
    removeFromThreadChain(thread);
    thread->_id = 0;
    return nullptr;
}

void Thread::addToThreadChain(Thread* thread)
{
    MutexLocker lock(_threadChainMutex);
    KOVAN_CHECK(!_threadChain.contains(thread));
    _threadChain.addToLast(thread);
    trace("Thread[\"%s\":%d] is started. (total %d threads)\n", thread->name(),
        static_cast<int>(thread->_id), static_cast<int>(_threadChain.count()));
}

void Thread::removeFromThreadChain(Thread* thread)
{
    MutexLocker lock(_threadChainMutex);
    KOVAN_CHECK(_threadChain.contains(thread));
    _threadChain.remove(thread);
    trace("Thread[\"%s\":%d] is finished. (total %d threads)\n", thread->name(),
        static_cast<int>(thread->_id), static_cast<int>(_threadChain.count()));
}

void Thread::setPriority(int32 priority, Policy policy)
{
    KOVAN_CHECK(isAlive());
    KOVAN_CHECK(0 <= priority && priority <= 99);
    _priority = priority;
    _policy = policy;
    applySchedule();
}

Thread* Thread::findThread(pid_t id)
{
    MutexLocker lock(_threadChainMutex);
    for (Thread* t = _threadChain.first(); t; t = t->_nextNode) {
        if (t->_id == id)
            return t;
    }
    return nullptr;
}

Thread* Thread::findThread(const char* name)
{
    MutexLocker lock(_threadChainMutex);
    for (Thread* t = _threadChain.first(); t; t = t->_nextNode) {
        if (0 == strcmp(t->name(), name))
            return t;
    }
    return nullptr;
}

} // namespace Kovan
