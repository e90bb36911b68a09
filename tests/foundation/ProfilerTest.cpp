#include "foundation/Profiler.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace Kovan;

// A new profiler's first run is the least and the most; a reset forgets the runs before it.
TEST(ProfilerTest, RunsAccumulateTheLeastTheMostTheTotalTheCountAndTheUserDataFromTheLastReset)
{
    Profiler p("stretch");
    p.begin();
    p.end(7);
    EXPECT_EQ(std::make_tuple(p.minTick(), p.minTick(), 1u, 7u),
        std::make_tuple(p.maxTick(), p.totalTick(), p.count(), p.userData()));
    p.begin();
    Thread::sleep(50);
    p.end(7);
    p.reset();
    for (uint32 ms : { 30u, 0u }) {
        p.begin();
        Thread::sleep(ms);
        p.end(ms + 3);
    }
    EXPECT_LT(p.minTick(), p.maxTick()) << "the 30 ms run is the most, the quick one the least";
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(2u, p.count());
    EXPECT_EQ(36u, p.userData());
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
