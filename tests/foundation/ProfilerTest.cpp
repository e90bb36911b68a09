#include "foundation/Profiler.h"

#include "support/StderrCapture.h"

#include "foundation/Thread.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kovan;

namespace {

std::vector<std::string> chainNames()
{
    std::vector<std::string> out;
    for (Profiler* p = g_profilerChain.first(); p; p = p->next())
        out.push_back(p->name());
    return out;
}

} // namespace

TEST(ProfilerTest, RunsAccumulateAndResetKeepsNameAndChain)
{
    Profiler p("stretch");
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(0u, p.count());
        EXPECT_EQ(4294967295u, p.minTick());
        EXPECT_EQ(0u, p.maxTick());
        p.begin();
        Thread::sleep(5);
        p.end(7);
        EXPECT_GE(p.minTick(), 4u);
        EXPECT_EQ(p.minTick(), p.maxTick());
        p.begin();
        p.end(3);
        EXPECT_EQ(2u, p.count());
        EXPECT_EQ(10u, p.userData());
        EXPECT_EQ(p.totalTick() / 2, p.average());
        p.reset();
    }
    EXPECT_STREQ("stretch", p.name());
    EXPECT_EQ(std::vector<std::string> { "stretch" }, chainNames());
}

TEST(ProfilerTest, DestroyingTheMiddleKeepsTheOthersInOrder)
{
    Profiler a("a");
    Profiler* b = new Profiler("b");
    Profiler c("c");
    EXPECT_EQ((std::vector<std::string> { "a", "b", "c" }), chainNames());
    delete b;
    EXPECT_EQ((std::vector<std::string> { "a", "c" }), chainNames());
    EXPECT_CHECK_FAILS(Profiler(nullptr), "0 != name", "Profiler");
}
