// A plain, non-recursive POSIX mutex. Results of the underlying calls are ignored.
#pragma once

#include <pthread.h>

namespace Kovan {

class Mutex {
public:
    // noexcept: global mutexes (the thread chain's) are built before main.
    Mutex() noexcept;
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();

private:
    pthread_mutex_t _handle;
};

// Holds a Mutex for the life of a scope.
class MutexLocker {
public:
    explicit MutexLocker(Mutex& mutex)
        : _mutex(mutex)
    {
        _mutex.lock();
    }
    ~MutexLocker() { _mutex.unlock(); }
    MutexLocker(const MutexLocker&) = delete;
    MutexLocker& operator=(const MutexLocker&) = delete;

private:
    Mutex& _mutex;
};

} // namespace Kovan
