#include "foundation/Looper.h"

#include "support/StderrCapture.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace Kovan;

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
        suspend();
        passDone.signal();
    }
    std::atomic<int> passes { 0 };
    std::atomic<bool> holdPass { false };
    SyncFlag inPass, proceed, passDone;
};

} // namespace

TEST(LooperTest, SuspendResumeAndQuitRacesAcrossManyRuns)
{
    KovanTest::StderrCapture err;
    // The looper parks itself after each pass; a resume at any moment is never lost, even
    // between its suspend and its wait, and a quit wakes it for good.
    for (int run = 0; run < 300; ++run) {
        CountingLooper looper;
        ASSERT_TRUE(looper.run());
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000));
        looper.resume();
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000)) << run;
        looper.quit();
        looper.join();
        EXPECT_EQ(2, looper.passes.load()) << run;
    }
    // A resume while the looper works does not cancel the suspend that follows.
    CountingLooper looper;
    looper.holdPass = true;
    ASSERT_TRUE(looper.run());
    ASSERT_EQ(SyncFlag::SIGNALED, looper.inPass.waitForSignal(5000));
    looper.resume();
    looper.proceed.signal();
    ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000));
    EXPECT_EQ(SyncFlag::TIMEOUT, looper.inPass.waitForSignal(50)) << "a stray pass";
    EXPECT_TRUE(looper.isSuspend());
    looper.quit();
    looper.join();
    EXPECT_EQ(1, looper.passes.load());
    EXPECT_FALSE(looper.isQuitRequested()) << "not READY after the loop";
}
