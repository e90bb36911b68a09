#include "foundation/Profiler.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>
#include <tuple>

using namespace Kovan;

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
