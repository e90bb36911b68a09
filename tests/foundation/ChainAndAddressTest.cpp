#include "support/StderrCapture.h"

#include "foundation/IpAddress.h"
#include "foundation/Profiler.h"
#include "foundation/SChain.h"
#include "foundation/Thread.h"
#include "foundation/Types.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

struct Node {
    int value;
    Node* _nextNode = nullptr;
};

std::string values(const SChain<Node>& chain)
{
    std::string out;
    for (Node* n = chain.first(); n; n = n->_nextNode)
        out += std::to_string(n->value);
    return out + "/" + std::to_string(chain.count()) + "/" + std::to_string(chain.last()->value);
}

std::string chainNames()
{
    std::string out;
    for (Profiler* p = g_profilerChain.first(); p; p = p->next())
        out += std::string(p->name()) + " ";
    return out;
}

} // namespace

TEST(SChainTest, AddRemoveKeepsFirstLastAndCount)
{
    Node a { 1 }, b { 2 }, c { 3 }, d { 4 }, e { 5 };
    SChain<Node> chain;
    chain.addToLast(&a);
    chain.remove(&a);
    EXPECT_TRUE(nullptr == chain.first() && nullptr == chain.last() && 0u == chain.count());

    chain.addToLast(&a);
    chain.addToLast(&b);
    chain.addToLast(&c);
    chain.remove(&c);
    chain.addToLast(&d);
    chain.remove(&b);
    EXPECT_EQ("14/2/4", values(chain));
    EXPECT_TRUE(chain.contains(&d) && !chain.contains(&b));
    chain.addToFirst(&c);
    chain.insertBefore(&b, &a);
    chain.insertAfter(&e, &d);
    EXPECT_EQ("32145/5/5", values(chain));

    // removeAll forgets the elements; their own links stay, and a new chain starts cleanly.
    chain.removeAll();
    EXPECT_TRUE(chain.isEmpty());
    chain.addToLast(&b);
    EXPECT_EQ("2/1/2", values(chain));
    EXPECT_CHECK_FAILS(chain.remove(&a), "0 != t", "remove");
    EXPECT_CHECK_FAILS(chain.insertBefore(&c, &a), "0 != prev", "insertBefore");
    EXPECT_CHECK_FAILS(chain.insertAfter(&c, &a), "contains(after)", "insertAfter");
}

TEST(IpAddressTest, ParsesAndPrintsDottedTextAndRejectsWhatIsNotAnAddress)
{
    IpAddress ip("172.16.5.1");
    EXPECT_TRUE(172 == ip.field(0) && 16 == ip.field(1) && 5 == ip.field(2) && 1 == ip.field(3));
    for (const char* bad : { "256.1.1.1", "1.2.3.4.5", "1.2.3.4.", "1..2.3", " 1.2.3.4", "",
             "1.2.3.-4", "1.2.3.4x", "+1.2.3.4" }) {
        IpAddress a(9, 9, 9, 9);
        a.set(bad);
        EXPECT_TRUE(IpAddress(0, 0, 0, 0) == a && !a.isValid()) << "'" << bad << "'";
    }
    IpAddress partial(1, 2, 3, 4);
    partial.set("192.168");
    EXPECT_EQ(IpAddress(192, 168, 3, 4), partial);
    EXPECT_EQ(IpAddress(10, 1, 0, 255), IpAddress("010.001.000.255"));
    EXPECT_FALSE(partial.fromString("8.8.4.256"));

    // The word view is network order in memory.
    const uint32 word = IpAddress(192, 168, 1, 2).toUint32();
    const uint8* bytes = reinterpret_cast<const uint8*>(&word);
    EXPECT_TRUE(192 == bytes[0] && 2 == bytes[3]);
    IpAddress other;
    other.fromUint32(word);
    EXPECT_EQ(IpAddress(192, 168, 1, 2), other);

    KovanTest::StderrCapture err;
    char text[16];
    EXPECT_STREQ("255.255.255.255", IpAddress(255, 255, 255, 255).toString(text));
    EXPECT_EQ("", err.take());

    EXPECT_CHECK_FAILS(ip.set(0, 256, 0, 0),
        "0 <= f0 && f0 <= 255 && 0 <= f1 && f1 <= 255 && 0 <= f2 && f2 <= 255 && 0 <= f3 && f3 <= "
        "255",
        "set");
    EXPECT_CHECK_FAILS(ip.setField(4, 1), "0 <= field && field <= 3", "setField");
    EXPECT_CHECK_FAILS(ip.setField(0, -1), "0 <= value && value <= 255", "setField");
}

TEST(TypesTest, MinReturnsTheSecondOnATieAndAbsIsTheDistance)
{
    uint32 a = 5, b = 5, c = 3;
    EXPECT_TRUE(&b == &_min(a, b) && &c == &_min(c, a));
    EXPECT_TRUE(4 == _abs(5, 9) && 4 == _abs(9, 5) && 30L == _abs(-10L, 20L));
}

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
