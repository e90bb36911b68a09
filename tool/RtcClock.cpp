#include "tool/RtcClock.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace Kovan {

namespace {

volatile sig_atomic_t _stop = 0;

void onSignal(int) { _stop = 1; }

double seconds(clockid_t clock)
{
    timespec now = {};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace

void watchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &both, nullptr);
}

bool interrupted() { return 0 != _stop; }

double realNow() { return seconds(CLOCK_REALTIME); }

double monotonicNow() { return seconds(CLOCK_MONOTONIC); }

void pause(double seconds)
{
    if (seconds <= 0)
        return;
    timespec t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    nanosleep(&t, nullptr);
}

void sleepUntil(double (*now)(), double when)
{
    double left = when - now();
    while (!_stop && left > 0) {
        pause(left);
        left = when - now();
    }
}

} // namespace Kovan
