// POSIX threads, the kernel thread id and scheduling.
#include "foundation/Thread.h"
#include "foundation/Trace.h"

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace Kovan {

Thread::~Thread()
{
    // The body would go on using this object after it is gone: a crash somewhere later, far
    // from the cause. Said here, with the thread's name.
    if (isAlive())
        traceDestroyedWhileRunning();
    KOVAN_CHECK(!isAlive());
    // A finished body that nobody joined: release it without blocking the owner.
    if (_joinPending && !isAlive())
        pthread_detach(_handle);
}

bool Thread::run()
{
    KOVAN_CHECK(!isAlive());
    // The previous run's body has ended (the thread is not alive): collect it first.
    if (_joinPending) {
        pthread_join(_handle, nullptr);
        _joinPending = false;
    }
    _starting = true;
    starting();
    if (0 != pthread_create(&_handle, nullptr, pthreadThreadFunc, this)) {
        _starting = false;
        return false;
    }
    _joinPending = true;
    return true;
}

void Thread::join()
{
    if (!isAlive()) {
        // The body already ended: joining is immediate and keeps no zombie thread around.
        if (_joinPending) {
            pthread_join(_handle, nullptr);
            _joinPending = false;
        }
        return;
    }
    trace("Thread[\"%s\"] is joining...\n", _name.cString());
    while (_starting)
        sleep(10);
    pthread_join(_handle, nullptr);
    _joinPending = false;
    trace("Thread[\"%s\"] is joining...done\n", _name.cString());
}

void Thread::sleep(uint32 msec)
{
    struct timespec ts;
    ts.tv_sec = msec / 1000;
    ts.tv_nsec = static_cast<long>(msec % 1000) * 1000000L;
    nanosleep(&ts, nullptr);
}

void Thread::yield() { sched_yield(); }

pid_t Thread::currentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void Thread::applySchedule()
{
    // On its own thread the body may run before pthread_create has stored _handle.
    pthread_t handle = (currentThreadId() == _id) ? pthread_self() : _handle;
    int policy = 0;
    struct sched_param param;
    pthread_getschedparam(handle, &policy, &param);
    if (REALTIME == _policy) {
        policy = SCHED_FIFO;
        param.sched_priority = _priority;
    } else {
        policy = SCHED_OTHER;
        param.sched_priority = 0;
    }
    // Refused without the right to real-time scheduling; the requested values stay stored.
    pthread_setschedparam(handle, policy, &param);
}

} // namespace Kovan
