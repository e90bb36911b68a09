#include "foundation/SyncFlag.h"

#include "foundation/Tick.h"

#include <gtest/gtest.h>
#include <thread>

using namespace Kovan;

TEST(SyncFlagTest, SignalsBeforeAWaitAreConsumedByOneWaitAndTheNextWaitsItsTime)
{
    SyncFlag flag;
    flag.signal();
    flag.signal();
    EXPECT_TRUE(flag.isSignaled());
    EXPECT_EQ(SyncFlag::SIGNALED, flag.waitForSignal(0));
    EXPECT_FALSE(flag.isSignaled());
    const uint32 before = currentTick();
    EXPECT_EQ(SyncFlag::TIMEOUT, flag.waitForSignal(100)) << "the second signal was kept";
    EXPECT_GE(diffTick(before, currentTick()), 90u);
}

TEST(SyncFlagTest, AWaitLongerThan32BitsOfMicrosecondsLastsUntilItsSignal)
{
    SyncFlag flag, done;
    SyncFlag::WaitResult result = SyncFlag::TIMEOUT;
    std::thread waiter([&] {
        result = flag.waitForSignal(3000000);
        done.signal();
    });
    EXPECT_EQ(SyncFlag::TIMEOUT, done.waitForSignal(200)) << "the long wait ended by itself";
    flag.signal();
    waiter.join();
    EXPECT_EQ(SyncFlag::SIGNALED, result);
}
