#include "support/StderrCapture.h"

#include "foundation/IpAddress.h"
#include "foundation/SChain.h"
#include "foundation/Types.h"

#include <gtest/gtest.h>
#include <vector>

using namespace Kovan;

namespace {

struct Node {
    int value;
    Node* _nextNode = nullptr;
};

std::vector<int> values(const SChain<Node>& chain)
{
    std::vector<int> out;
    for (Node* n = chain.first(); n; n = n->_nextNode)
        out.push_back(n->value);
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
    EXPECT_EQ(&b, chain.last());
    chain.addToLast(&d);
    chain.remove(&b);
    EXPECT_EQ((std::vector<int> { 1, 4 }), values(chain));
    EXPECT_TRUE(chain.contains(&d) && !chain.contains(&b));

    chain.addToFirst(&c);
    chain.insertBefore(&b, &a);
    chain.insertAfter(&e, &d);
    EXPECT_EQ((std::vector<int> { 3, 2, 1, 4, 5 }), values(chain));
    EXPECT_EQ(&e, chain.last());
    EXPECT_EQ(5u, chain.count());

    // removeAll forgets the elements; their own links stay, and a new chain starts cleanly.
    chain.removeAll();
    EXPECT_TRUE(chain.isEmpty());
    chain.addToLast(&b);
    EXPECT_EQ((std::vector<int> { 2 }), values(chain));
    EXPECT_CHECK_FAILS(chain.remove(&a), "0 != t", "remove");
}

TEST(IpAddressTest, ParsesAndPrintsDottedTextAndRejectsWhatIsNotAnAddress)
{
    IpAddress ip;
    ip.set("172.16.5.1");
    EXPECT_EQ(172, ip.field(0));
    EXPECT_EQ(16, ip.field(1));
    EXPECT_EQ(5, ip.field(2));
    EXPECT_EQ(1, ip.field(7));

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
}

TEST(IpAddressDeathTest, FieldRangesAreChecked)
{
    IpAddress ip;
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
    EXPECT_EQ(&b, &_min(a, b));
    EXPECT_EQ(&c, &_min(c, a));
    EXPECT_EQ(4, _abs(5, 9));
    EXPECT_EQ(4, _abs(9, 5));
    EXPECT_EQ(30L, _abs(-10L, 20L));
}
