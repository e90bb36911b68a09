#include "foundation/Looper.h"

#include "support/StderrCapture.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// Each pass is counted and parks the looper.
struct CountingLooper : Looper {
    CountingLooper()
        : Looper("counter", 10, Thread::NORMAL)
    {
    }
    void looperFunc() override
    {
        ++passes;
        suspend();
        passDone.signal();
    }
    std::atomic<int> passes { 0 };
    SyncFlag passDone;
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
        EXPECT_FALSE(looper.isQuitRequested()) << "not READY after the loop";
    }
}
