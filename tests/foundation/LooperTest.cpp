#include "foundation/Looper.h"

#include "support/StderrCapture.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

// Parks after each pass.
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

TEST(LooperTest, AResumeIsNeverLostAndAQuitWakesAParkedLooper)
{
    KovanTest::StderrCapture err;
    for (int run = 0; run < 300; ++run) { // the races show only now and then
        CountingLooper looper("counter", 10, Thread::NORMAL);
        ASSERT_TRUE(looper.run());
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000));
        looper.resume(); // perhaps before the looper waits
        ASSERT_EQ(SyncFlag::SIGNALED, looper.passDone.waitForSignal(5000)) << run;
        looper.quit();
        looper.join();
        // Started, quit and finished; joining and joined when the join had to wait.
        const std::string traced = err.take();
        const auto lines = std::count(traced.begin(), traced.end(), '\n');
        EXPECT_TRUE(3 == lines || 5 == lines) << traced;
        EXPECT_EQ(2, looper.passes.load()) << run;
        EXPECT_FALSE(looper.isQuitRequested()) << "not READY after the loop";
    }
}
