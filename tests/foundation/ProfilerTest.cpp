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

TEST(ProfilerTest, RunsAccumulateResetStartsAfreshAndTheChainKeepsItsOrder)
{
    Profiler a("a");
    Profiler* b = new Profiler("b");
    Profiler p("stretch");
    p.begin();
    Thread::sleep(5);
    p.end(7);
    EXPECT_GE(p.minTick(), 4u);
    EXPECT_EQ(p.minTick(), p.maxTick());
    p.begin();
    p.end(3);
    EXPECT_EQ(2u, p.count());
    EXPECT_EQ(10u, p.userData());
    p.reset();
    EXPECT_TRUE(0u == p.count() && 4294967295u == p.minTick() && 0u == p.maxTick()
        && 0u == p.totalTick() && 0u == p.userData());

    EXPECT_EQ("a b stretch ", chainNames());
    delete b;
    EXPECT_EQ("a stretch ", chainNames());
    EXPECT_CHECK_FAILS(Profiler(nullptr), "0 != name", "Profiler");
}
