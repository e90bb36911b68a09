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

TEST(ProfilerTest, RunsAccumulateResetStartsAfreshAndTheChainKeepsConstructionOrder)
{
    Profiler* early = new Profiler("early");
    Profiler p("stretch");
    p.begin();
    Thread::sleep(5);
    p.end(7);
    p.begin();
    p.end(3);
    EXPECT_EQ(2u, p.count());
    EXPECT_LT(p.minTick(), p.maxTick());
    EXPECT_EQ(p.maxTick() + p.minTick(), p.totalTick());
    EXPECT_EQ(10u, p.userData());
    p.reset();
    // The first run after a reset is both the least and the most.
    p.begin();
    p.end(0);
    EXPECT_EQ(1u, p.count());
    EXPECT_EQ(p.minTick(), p.maxTick());
    EXPECT_EQ("early stretch ", chainNames());
    delete early;
    EXPECT_EQ("stretch ", chainNames());
}
