#include "foundation/SChain.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

struct Node {
    char name;
    Node* _nextNode = nullptr;
};

// The names in chain order, then the last one's after a slash.
std::string walk(const SChain<Node>& chain)
{
    std::string out;
    for (Node* n = chain.first(); n; n = n->_nextNode)
        out += n->name;
    EXPECT_EQ(out.size(), chain.count()) << out;
    return out + "/" + (chain.last() ? std::string(1, chain.last()->name) : "");
}

} // namespace

TEST(SChainTest, EveryInsertAndRemoveKeepsTheOrderTheCountAndTheLast)
{
    Node a { 'a' }, b { 'b' }, c { 'c' }, d { 'd' }, e { 'e' };
    SChain<Node> chain;
    chain.addToLast(&b);
    chain.addToFirst(&a);
    chain.insertAfter(&d, &b);
    EXPECT_EQ("abd/d", walk(chain));
    chain.insertBefore(&c, &d);
    chain.insertBefore(&e, &a);
    EXPECT_EQ("eabcd/d", walk(chain));
    chain.remove(&d);
    EXPECT_EQ("eabc/c", walk(chain));
    chain.remove(&e);
    chain.remove(&b);
    EXPECT_EQ("ac/c", walk(chain));
    EXPECT_FALSE(chain.contains(&b));
    EXPECT_TRUE(chain.contains(&c));
    chain.insertAfter(&e, &c);
    chain.addToFirst(&b);
    EXPECT_EQ("bace/e", walk(chain));
    chain.removeAll();
    EXPECT_EQ("/", walk(chain));
    chain.addToLast(&d);
    EXPECT_EQ("d/d", walk(chain));
    Node stray { 'z' };
    EXPECT_CHECK_FAILS(chain.remove(&stray), "0 != t", "remove");
}
