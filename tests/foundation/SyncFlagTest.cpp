#include "foundation/SyncFlag.h"

#include "foundation/Tick.h"

#include <gtest/gtest.h>
#include <thread>

using namespace Kovan;

TEST(SyncFlagTest, TwoSignalsBeforeAWaitAreConsumedByOneWaitAndTheNextWaitsItsTime)
{
    SyncFlag flag;
    flag.signal();
    flag.signal();
    EXPECT_TRUE(flag.isSignaled());
    EXPECT_EQ(SyncFlag::SIGNALED, flag.waitForSignal(0));
    EXPECT_FALSE(flag.isSignaled());
    const uint32 before = currentTick();
    EXPECT_EQ(SyncFlag::TIMEOUT, flag.waitForSignal(100)) << "the second signal was kept";
    EXPECT_GE(diffTick(before, currentTick()), 90u) << "a timed-out wait lasts its time";
}

TEST(SyncFlagTest, AWaitLongerThan32BitsOfMicrosecondsLastsUntilItsSignal)
{
    // 50 minutes in microseconds overflows 32 bits: the deadline must not land in the past.
    SyncFlag flag, done;
    SyncFlag::WaitResult result = SyncFlag::TIMEOUT;
    std::thread waiter([&] {
        result = flag.waitForSignal(3000000);
        done.signal();
    });
    EXPECT_EQ(SyncFlag::TIMEOUT, done.waitForSignal(200)) << "the long wait ended by itself";
    flag.signal();
    EXPECT_EQ(SyncFlag::SIGNALED, done.waitForSignal(5000));
    waiter.join();
    EXPECT_EQ(SyncFlag::SIGNALED, result);
}
