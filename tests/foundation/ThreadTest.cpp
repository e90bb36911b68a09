#include "foundation/Thread.h"

#include "support/StderrCapture.h"

#include "foundation/Looper.h"
#include "foundation/SyncFlag.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <unistd.h>

using namespace Kovan;

namespace {

struct FuncThread : Thread {
    using Thread::Thread;
    void threadFunc() override { body(); }
    std::function<void()> body;
};

} // namespace

TEST(ThreadTest, ARunningThreadIsFoundByNameAndIdAndRunsAgainAfterJoin)
{
    KovanTest::StderrCapture err;
    const std::string cut(31, 'n');
    SyncFlag release, entered;
    std::atomic<int> policy { -1 }, priority { -1 }, tid { 0 };
    FuncThread t(std::string(40, 'n').c_str(), 10, Thread::NORMAL);
    t.body = [&] {
        tid = static_cast<int>(gettid());
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
    EXPECT_FALSE(t.isAlive());
    EXPECT_EQ(nullptr, Thread::findThread(cut.c_str()));
    EXPECT_EQ(SCHED_OTHER, policy.load());
    EXPECT_EQ(0, priority.load());
    EXPECT_EQ(50, t.priority());
    EXPECT_CHECK_FAILS((t.run(), t.run()), "!isAlive()", "run");
}

TEST(ThreadTest, DestroyingARunningThreadOrLooperIsACheckWithTheThreadsName)
{
    // Each body says it has begun, then waits on a flag that outlives the object, so it is
    // certainly inside its body (not about to call it) when the object goes: on a slow emulator
    // the thread may otherwise start only after the derived part is gone.
    static SyncFlag never;
    static SyncFlag begun;
    struct WaitingLooper : Looper {
        using Looper::Looper;
        void looperFunc() override
        {
            begun.signal();
            never.waitForSignal(0);
        }
    };
    EXPECT_DEATH(
        {
            auto* t = new FuncThread("orphan", 10, Thread::NORMAL);
            t->body = [] {
                begun.signal();
                never.waitForSignal(0);
            };
            t->run();
            begun.waitForSignal(0);
            delete t;
        },
        "Thread\\[\"orphan\"\\] is destroyed while running: quit\\(\\) and join\\(\\) it first\n.*"
            + KovanTest::checkRegex("!isAlive()", "~Thread"));
#ifndef __SANITIZE_THREAD__
    // The misuse itself races: the looper's body calls a virtual function of the object whose
    // destructor has begun. The thread sanitizer rightly reports that race before the check.
    EXPECT_DEATH(
        {
            auto* l = new WaitingLooper("parked", 10, Thread::NORMAL);
            l->run();
            begun.waitForSignal(0);
            delete l;
        },
        KovanTest::checkRegex("!isAlive()", "~Looper"));
#endif
}
