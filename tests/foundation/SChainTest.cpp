#include "foundation/SChain.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

struct Node {
    char name;
    Node* _nextNode = nullptr;
};

TEST(SChainTest, EveryInsertAndRemoveKeepsTheOrderTheCountAndTheLast)
{
    Node a { 'a' }, b { 'b' }, c { 'c' }, d { 'd' }, e { 'e' };
    SChain<Node> chain;
    // The names in chain order, then the last one's after a slash.
    const auto walk = [&chain] {
        std::string out;
        for (Node* n = chain.first(); n; n = n->_nextNode)
            out += n->name;
        EXPECT_EQ(out.size(), chain.count()) << out;
        return out + "/" + (chain.last() ? std::string(1, chain.last()->name) : "");
    };
    chain.addToLast(&b);
    chain.addToFirst(&a);
    chain.insertAfter(&d, &b);
    chain.insertBefore(&c, &d);
    chain.insertBefore(&e, &a);
    EXPECT_EQ("eabcd/d", walk());
    chain.remove(&d);
    chain.remove(&e);
    chain.insertAfter(&e, &c);
    EXPECT_EQ("abce/e", walk());
    chain.removeAll();
    EXPECT_EQ("/", walk());
    Node stray { 'z' };
    EXPECT_CHECK_FAILS(chain.remove(&stray), "0 != t", "remove");
}
