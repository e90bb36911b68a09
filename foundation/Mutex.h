// A plain, non-recursive POSIX mutex. Results of the underlying calls are ignored.
//
// Thread safety: Mutex and MutexLocker are the synchronisation; one MutexLocker per thread.
#pragma once

#include <pthread.h>

// Defines a process-wide object that the libraries use from any thread at any time, also from a
// program's own global constructors and destructors: built at compile time (the build fails if
// its constructor is not constexpr), so no code before main can find it unbuilt or rebuild it
// over a thread that already joined it; and destroyed after every ordinary global of the program,
// so a global that stops its threads in its destructor still finds it.
//     KOVAN_PROCESS_WIDE Mutex Registry::_mutex;
#if defined(__clang__)
#define KOVAN_PROCESS_WIDE                                                                         \
    [[clang::require_constant_initialization]] __attribute__((init_priority(101)))
#elif defined(__GNUC__)
#define KOVAN_PROCESS_WIDE __constinit __attribute__((init_priority(101)))
#else
#define KOVAN_PROCESS_WIDE
#endif

namespace Kovan {

class Mutex {
public:
    // constexpr: the process-wide mutexes are complete before any code runs (KOVAN_PROCESS_WIDE).
    constexpr Mutex() noexcept
        : _handle PTHREAD_MUTEX_INITIALIZER
    {
    }
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
