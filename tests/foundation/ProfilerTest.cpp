#include "foundation/Profiler.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>

using namespace Kovan;

TEST(ProfilerTest, RunsAccumulateResetStartsAfreshAndTheChainKeepsConstructionOrder)
{
    Profiler* early = new Profiler("early");
    Profiler p("stretch");
    for (uint32 ms : { 5u, 0u }) {
        p.begin();
        Thread::sleep(ms);
        p.end(ms + 3);
    }
    EXPECT_LT(p.minTick(), p.maxTick()) << "the 5 ms run is the most, the quick one the least";
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(2u, p.count());
    EXPECT_EQ(11u, p.userData());
    p.reset();
    EXPECT_STREQ("early", g_profilerChain.first()->name());
    EXPECT_EQ(&p, g_profilerChain.first()->next()) << "construction order, kept by a reset";
    delete early;
    EXPECT_EQ(&p, g_profilerChain.first());
    p.begin();
    p.end(0);
    EXPECT_EQ(p.minTick(), p.maxTick()) << "the first run after a reset is the least and the most";
    EXPECT_EQ(1u, p.count());
    EXPECT_EQ(0u, p.userData());
}
