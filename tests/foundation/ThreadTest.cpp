#include "foundation/Thread.h"

#include "support/StderrCapture.h"

#include "foundation/Looper.h"
#include "foundation/SyncFlag.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <unistd.h>

using namespace Kovan;

namespace {

// Outlive every thread object: a body still waits on them once its object is gone.
SyncFlag begun, never;

void waitForever()
{
    begun.signal();
    never.waitForSignal(0);
}

struct FuncThread : Thread {
    using Thread::Thread;
    void threadFunc() override { body(); }
    std::function<void()> body = waitForever;
};

struct WaitingLooper : Looper {
    using Looper::Looper;
    void looperFunc() override { waitForever(); }
};

// Only once the body has begun: a slow emulator might otherwise start the thread after the
// derived part is gone.
template <typename T> void destroyRunning(const char* name)
{
    auto* t = new T(name, 10, Thread::NORMAL);
    t->run();
    begun.waitForSignal(0);
    delete t;
}

} // namespace

TEST(ThreadTest, ARunningThreadIsFoundByNameAndIdUntilJoinedAndCannotRunTwice)
{
    KovanTest::StderrCapture err;
    const std::string cut(31, 'n');
    SyncFlag release, entered;
    std::atomic<int> policy { -1 }, priority { -1 }, tid { 0 };
    FuncThread t(std::string(40, 'n').c_str(), 10, Thread::NORMAL);
    t.body = [&] {
        tid = static_cast<int>(gettid());
        t.setPriority(20, Thread::REALTIME); // where allowed; NORMAL must undo it
        t.setPriority(50, Thread::NORMAL); // kept, but NORMAL runs under SCHED_OTHER at 0
        sched_param p;
        policy = sched_getscheduler(0);
        priority = 0 == sched_getparam(0, &p) ? p.sched_priority : -1;
        entered.signal();
        release.waitForSignal(0);
    };
    t.quit(); // never run: nothing to quit or join
    t.join();
    ASSERT_TRUE(t.run());
    ASSERT_EQ(SyncFlag::SIGNALED, entered.waitForSignal(5000));
    EXPECT_TRUE(t.isAlive());
    EXPECT_EQ(&t, Thread::findThread(cut.c_str()));
    EXPECT_EQ(&t, Thread::findThread(static_cast<pid_t>(tid)));
    release.signal();
    t.join();
    // The name cut, started and finished; joining and joined when the join had to wait.
    const std::string traced = err.take();
    const auto lines = std::count(traced.begin(), traced.end(), '\n');
    EXPECT_TRUE(3 == lines || 5 == lines) << traced;
    EXPECT_FALSE(t.isAlive());
    EXPECT_EQ(nullptr, Thread::findThread(cut.c_str()));
    EXPECT_EQ(std::make_pair(SCHED_OTHER, 0), std::make_pair(policy.load(), priority.load()));
    EXPECT_EQ(50, t.priority());
    EXPECT_CHECK_FAILS((t.run(), t.run()), "!isAlive()", "run");
}

TEST(ThreadTest, DestroyingARunningThreadOrLooperIsACheckWithTheThreadsName)
{
    EXPECT_DEATH(destroyRunning<FuncThread>("orphan"),
        "Thread\\[\"orphan\"\\] is destroyed while running: quit\\(\\) and join\\(\\) it first\n.*"
            + KovanTest::checkRegex("!isAlive()", "~Thread"));
#ifndef __SANITIZE_THREAD__
    // The misuse itself races: the looper's body calls a virtual function of the object whose
    // destructor has begun. The thread sanitizer rightly reports that race before the check.
    EXPECT_DEATH(
        destroyRunning<WaitingLooper>("parked"), KovanTest::checkRegex("!isAlive()", "~Looper"));
#endif
}

TEST(ThreadTest, RunningAgainAfterTheBodyEndedCollectsTheOldThread)
{
#ifdef __SANITIZE_THREAD__
    // The thread sanitizer maps memory of its own for every thread it sees start.
    GTEST_SKIP() << "the sanitizer's own mappings grow with each thread";
#endif
    KovanTest::StderrCapture err;
    FuncThread t("again", 10, Thread::NORMAL);
    t.body = [] {};
    const auto mappings = [] {
        std::ifstream maps("/proc/self/maps");
        return std::count(std::istreambuf_iterator<char>(maps), {}, '\n');
    };
    long before = 0;
    for (int run = 0; run < 50; ++run) {
        ASSERT_TRUE(t.run());
        for (int spin = 0; spin < 100000000 && t.isAlive(); ++spin)
            Thread::yield();
        before = 0 == run ? mappings() : before;
    }
    t.join();
    // A finished thread nobody collected keeps its stack mapped; a collected one's is reused.
    EXPECT_LT(mappings(), before + 20);
}

TEST(ThreadTest, SleepLastsItsWholeSecondsToo)
{
    const auto start = std::chrono::steady_clock::now();
    Thread::sleep(1000);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}
