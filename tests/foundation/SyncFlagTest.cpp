#include "foundation/SyncFlag.h"

#include "foundation/Profiler.h"
#include "foundation/Thread.h"
#include "foundation/Tick.h"

#include <gtest/gtest.h>
#include <thread>
#include <tuple>

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

TEST(ProfilerTest, RunsSinceTheLastResetGiveTheLeastTheMostAndTheirSums)
{
    Profiler p("stretch");
    p.begin();
    p.end(100);
    p.reset();
    for (uint32 ms : { 20u, 0u }) {
        p.begin();
        Thread::sleep(ms);
        p.end(ms + 3);
        if (20 == ms) { // the first run since the reset is the least and the most
            EXPECT_EQ(std::make_tuple(p.totalTick(), p.totalTick(), 1u),
                std::make_tuple(p.minTick(), p.maxTick(), p.count()));
        }
    }
    EXPECT_LE(20u, p.maxTick());
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(std::make_pair(2u, 26u), std::make_pair(p.count(), p.userData()));
}

TEST(ProfilerTest, TheChainKeepsConstructionOrderThroughAResetAndARemoval)
{
    Profiler *early = new Profiler("early"), *middle = new Profiler("middle");
    Profiler last("last");
    EXPECT_EQ(middle, early->next());
    EXPECT_EQ(&last, middle->next());
    middle->reset();
    EXPECT_EQ(middle, early->next()) << "a reset leaves the chain alone";
    delete middle;
    EXPECT_EQ(&last, early->next()) << "a middle one leaves its neighbours linked";
    delete early;
    EXPECT_EQ(&last, g_profilerChain.first());
}
