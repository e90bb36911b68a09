#include "foundation/Profiler.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>

using namespace Kovan;

TEST(ProfilerTest, RunsAccumulateResetStartsAfreshAndTheChainKeepsConstructionOrder)
{
    Profiler *early = new Profiler("early"), *middle = new Profiler("middle");
    Profiler p("stretch");
    for (uint32 ms : { 30u, 0u }) {
        p.begin();
        Thread::sleep(ms);
        p.end(ms + 3);
    }
    EXPECT_LT(p.minTick(), p.maxTick()) << "the 30 ms run is the most, the quick one the least";
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(2u, p.count());
    EXPECT_EQ(36u, p.userData());
    p.reset();
    EXPECT_EQ(middle, early->next()) << "construction order, kept by a reset";
    delete middle;
    EXPECT_EQ(&p, early->next()) << "a middle one leaves its neighbours linked";
    delete early;
    EXPECT_EQ(&p, g_profilerChain.first());
    p.begin();
    p.end(0);
    EXPECT_EQ(p.minTick(), p.maxTick()) << "the first run after a reset is the least and the most";
    EXPECT_EQ(1u, p.count());
    EXPECT_EQ(0u, p.userData());
}
