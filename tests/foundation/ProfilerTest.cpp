#include "foundation/Profiler.h"

#include "support/StderrCapture.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

std::string chainNames()
{
    std::string out;
    for (Profiler* p = g_profilerChain.first(); p; p = p->next())
        out += std::string(p->name()) + " ";
    return out;
}

} // namespace

TEST(ProfilerTest, RunsAccumulateTheirExtremesAndResetStartsAfresh)
{
    Profiler p("stretch");
    p.begin();
    Thread::sleep(5);
    p.end(7);
    p.begin();
    p.end(3);
    EXPECT_EQ(2u, p.count());
    EXPECT_GE(p.maxTick(), 4u);
    EXPECT_LT(p.minTick(), p.maxTick());
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(p.totalTick() / 2, p.average());
    EXPECT_EQ(10u, p.userData());
    p.reset();
    EXPECT_EQ(0u, p.count());
    EXPECT_EQ(0u, p.totalTick());
    EXPECT_EQ(0u, p.average());
    // A fresh start: the first run after a reset is both the least and the most.
    p.begin();
    p.end(0);
    EXPECT_EQ(p.minTick(), p.maxTick());
}

TEST(ProfilerTest, TheChainHoldsTheLiveProfilersInOrderOfConstruction)
{
    Profiler a("a");
    Profiler* b = new Profiler("b");
    Profiler c("c");
    EXPECT_EQ("a b c ", chainNames());
    delete b;
    EXPECT_EQ("a c ", chainNames());
}
