#include "foundation/Looper.h"

#include "support/StderrCapture.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace Kovan;

namespace {

struct CountingLooper : Looper {
    using Looper::Looper;
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
    // Parked after each pass: a resume is never lost, even before the wait; a quit wakes it.
    for (int run = 0; run < 300; ++run) {
        CountingLooper looper("counter", 10, Thread::NORMAL);
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
