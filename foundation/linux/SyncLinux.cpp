// POSIX halves of Mutex, SyncFlag and the tick.
#include "foundation/Mutex.h"
#include "foundation/SyncFlag.h"
#include "foundation/Tick.h"

#include <cerrno>
#include <sys/time.h>
#include <time.h>

namespace Kovan {

Mutex::~Mutex() { pthread_mutex_destroy(&_handle); }

void Mutex::lock() { pthread_mutex_lock(&_handle); }

void Mutex::unlock() { pthread_mutex_unlock(&_handle); }

SyncFlag::SyncFlag()
    : _signaled(false)
{
    pthread_cond_init(&_handle, nullptr);
    pthread_mutex_init(&_mutex, nullptr);
}

SyncFlag::~SyncFlag()
{
    pthread_cond_destroy(&_handle);
    pthread_mutex_destroy(&_mutex);
}

bool SyncFlag::isSignaled() const { return _signaled; }

void SyncFlag::reset()
{
    pthread_mutex_lock(&_mutex);
    _signaled = false;
    pthread_mutex_unlock(&_mutex);
}

void SyncFlag::signal()
{
    pthread_mutex_lock(&_mutex);
    if (!_signaled) {
        _signaled = true;
        pthread_cond_signal(&_handle);
    }
    pthread_mutex_unlock(&_mutex);
}

SyncFlag::WaitResult SyncFlag::waitForSignal(uint32 timeoutMilisecond)
{
    int rc = 0;
    pthread_mutex_lock(&_mutex);
    if (timeoutMilisecond == 0) {
        // Spurious wake-ups are waited through: only a signal ends an endless wait.
        while (!_signaled)
            pthread_cond_wait(&_handle, &_mutex);
    } else {
        struct timeval now;
        gettimeofday(&now, nullptr);
        // In 64 bits: a wait of over 35 minutes overflows 32-bit microseconds.
        const int64 usec
            = static_cast<int64>(now.tv_usec) + static_cast<int64>(timeoutMilisecond) * 1000;
        struct timespec deadline;
        deadline.tv_sec = now.tv_sec + static_cast<time_t>(usec / 1000000);
        deadline.tv_nsec = static_cast<long>(usec % 1000000) * 1000L;
        while (!_signaled && ETIMEDOUT != rc)
            rc = pthread_cond_timedwait(&_handle, &_mutex, &deadline);
    }
    // Cleared under the same lock as the wake-up: a signal that lands after this belongs to
    // the next wait.
    bool signaled = _signaled;
    _signaled = false;
    pthread_mutex_unlock(&_mutex);
    return (signaled || ETIMEDOUT != rc) ? SIGNALED : TIMEOUT;
}

uint32 currentTick()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32>(
        static_cast<uint64>(ts.tv_sec) * 1000u + static_cast<uint64>(ts.tv_nsec) / 1000000u);
}

} // namespace Kovan
