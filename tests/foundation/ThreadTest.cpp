#include "foundation/Thread.h"

#include "support/StderrCapture.h"

#include "foundation/Looper.h"
#include "foundation/SyncFlag.h"
#include "foundation/Tick.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <unistd.h>

using namespace Kovan;
using KovanTest::StderrCapture;

namespace {

struct FuncThread : Thread {
    FuncThread(const char* name, std::function<void()> body)
        : Thread(name, 10, NORMAL)
        , _body(std::move(body))
    {
    }
    void threadFunc() override { _body(); }
    std::function<void()> _body;
};

} // namespace

TEST(SyncFlagTest, SignalsAreConsumedOnceAndTimeoutsWaitTheirTime)
{
    SyncFlag flag;
    flag.signal();
    flag.signal();
    EXPECT_TRUE(flag.isSignaled());
    EXPECT_EQ(SyncFlag::SIGNALED, flag.waitForSignal(0));
    const uint32 before = currentTick();
    EXPECT_EQ(SyncFlag::TIMEOUT, flag.waitForSignal(100));
    EXPECT_GE(diffTick(before, currentTick()), 90u);
    flag.signal();
    flag.reset();
    EXPECT_EQ(SyncFlag::TIMEOUT, flag.waitForSignal(1));

    EXPECT_EQ(32u, diffTick(4294967280u, 16u));
    const uint32 t0 = currentTick();
    Thread::sleep(20);
    EXPECT_GE(diffTick(t0, currentTick()), 19u);
}

TEST(SyncFlagTest, SignalFromAnotherThreadIsNeverLost)
{
    // A ping-pong: every round must be answered; a lost signal shows as a TIMEOUT.
    SyncFlag ping, pong;
    std::atomic<int> timeouts { 0 };
    FuncThread peer("pong", [&] {
        for (int i = 0; i < 500; ++i) {
            timeouts += SyncFlag::TIMEOUT == ping.waitForSignal(5000);
            pong.signal();
        }
    });
    StderrCapture err;
    ASSERT_TRUE(peer.run());
    for (int i = 0; i < 500; ++i) {
        ping.signal();
        timeouts += SyncFlag::TIMEOUT == pong.waitForSignal(5000);
    }
    peer.join();
    EXPECT_EQ(0, timeouts.load());
}

TEST(ThreadTest, LifecycleTraceLinesLookupsAndSchedule)
{
    StderrCapture err;
    const std::string name(40, 'n'), cut(31, 'n');
    SyncFlag release, entered;
    std::atomic<int> policy { -1 }, priority { -1 }, tid { 0 };
    FuncThread t(name.c_str(), [&] {
        tid = static_cast<int>(gettid());
        // NORMAL keeps the priority asked for but runs under SCHED_OTHER at 0.
        t.setPriority(50, Thread::NORMAL);
        sched_param p;
        policy = sched_getscheduler(0);
        priority = 0 == sched_getparam(0, &p) ? p.sched_priority : -1;
        entered.signal();
        release.waitForSignal(0);
    });
    EXPECT_EQ(cut, t.name());
    // Never run: quit and join do nothing and write nothing.
    t.quit();
    t.join();
    EXPECT_EQ("Btring::operator=() LONG TEXT: [40]\"" + name + "\"\n", err.take());

    ASSERT_TRUE(t.run());
    // The body runs only after the thread has entered the chain.
    ASSERT_EQ(SyncFlag::SIGNALED, entered.waitForSignal(5000));
    EXPECT_TRUE(t.isAlive());
    EXPECT_EQ(&t, Thread::findThread(cut.c_str()));
    EXPECT_EQ(&t, Thread::findThread(t.id()));
    EXPECT_EQ(nullptr, Thread::findThread("nobody"));
    t.quit();
    release.signal();
    t.join();
    EXPECT_FALSE(t.isAlive());
    EXPECT_EQ(nullptr, Thread::findThread(cut.c_str()));
    EXPECT_TRUE(SCHED_OTHER == policy && 0 == priority);
    EXPECT_TRUE(50 == t.priority() && Thread::NORMAL == t.policy());

    // Every line names the thread by its cut name; start and finish add the kernel thread id.
    auto line = [&](const std::string& rest) { return "Thread[\"" + cut + rest + "\n"; };
    const std::string id = "\":" + std::to_string(tid.load());
    const std::string head
        = line(id + "] is started. (total 1 threads)") + line("\"] is quit-requested");
    const std::string finished = line(id + "] is finished. (total 0 threads)");
    const std::string joining = line("\"] is joining..."), joined = line("\"] is joining...done");
    // The worker ends on its own once released: join either catches it alive (and traces) or
    // finds it already finished (and stays silent).
    const std::string got = err.take();
    EXPECT_TRUE(got == head + joining + finished + joined
        || got == head + finished + joining + joined || got == head + finished)
        << got;

    // A joined thread can run again.
    release.signal();
    ASSERT_TRUE(t.run());
    t.join();
    EXPECT_FALSE(t.isAlive());

    FuncThread idle("idle", [] {});
    EXPECT_CHECK_FAILS(idle.setPriority(10, Thread::NORMAL), "isAlive()", "setPriority");
    EXPECT_CHECK_FAILS((t.run(), t.setPriority(100, Thread::NORMAL)),
        "0 <= priority && priority <= 99", "setPriority");
    EXPECT_CHECK_FAILS((t.run(), t.run()), "!isAlive()", "run");
}

namespace {

// Each pass is counted, can be held until the test lets it go, and can park the looper.
struct CountingLooper : Looper {
    CountingLooper()
        : Looper("counter", 10, Thread::NORMAL)
    {
    }
    void looperFunc() override
    {
        ++passes;
        inPass.signal();
        if (holdPass)
            proceed.waitForSignal(5000);
        if (suspendAfterPass)
            suspend();
        passDone.signal();
    }
    std::atomic<int> passes { 0 };
    std::atomic<bool> holdPass { false }, suspendAfterPass { true };
    SyncFlag inPass, proceed, passDone;
};

} // namespace

TEST(LooperTest, SuspendResumeAndQuitRacesAcrossManyRuns)
{
    StderrCapture err;
    for (int run = 0; run < 200; ++run) {
        CountingLooper looper;
        // The looper parks itself after each pass; a resume at any moment is never lost, even
        // between its suspend and its wait, and a quit wakes it for good.
        ASSERT_TRUE(looper.run());
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000));
        looper.resume();
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000)) << run;
        looper.quit();
        looper.join();
        EXPECT_EQ(2, looper.passes.load());
        EXPECT_EQ(Looper::READY, looper.state());

        // Run again; a quit during a pass ends the loop when that pass returns.
        looper.passes = 0;
        looper.inPass.reset();
        looper.holdPass = true;
        looper.suspendAfterPass = false;
        ASSERT_TRUE(looper.run());
        ASSERT_EQ(SyncFlag::SIGNALED, looper.inPass.waitForSignal(5000));
        looper.quit();
        looper.proceed.signal();
        looper.join();
        EXPECT_EQ(1, looper.passes.load()) << run;
        EXPECT_EQ(Looper::READY, looper.state());
        err.take();
    }

    // A resume while the looper works does not cancel the suspend that follows.
    CountingLooper looper;
    looper.holdPass = true;
    ASSERT_TRUE(looper.run());
    ASSERT_EQ(SyncFlag::SIGNALED, looper.inPass.waitForSignal(5000));
    looper.resume();
    looper.proceed.signal();
    ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000));
    // Parked: no stray signal starts another pass.
    EXPECT_EQ(SyncFlag::TIMEOUT, looper.inPass.waitForSignal(50));
    EXPECT_TRUE(looper.isSuspend());
    looper.quit();
    looper.join();
    EXPECT_EQ(1, looper.passes.load());
}
