#include "foundation/SChain.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace Kovan;

namespace {

struct Node {
    char name;
    Node* _nextNode = nullptr;
};

std::string walk(const SChain<Node>& chain)
{
    std::string out;
    for (Node* n = chain.first(); n; n = n->_nextNode)
        out += n->name;
    return out;
}

} // namespace

TEST(SChainTest, RandomOperationsAgreeWithAStringModel)
{
    Node nodes[8];
    for (int i = 0; i < 8; ++i)
        nodes[i].name = static_cast<char>('a' + i);
    SChain<Node> chain;
    std::string model;
    std::mt19937 random(17);
    for (int step = 0; step < 5000; ++step) {
        Node* n = &nodes[random() % 8];
        Node* other = model.empty() ? nullptr : &nodes[model[random() % model.size()] - 'a'];
        const size_t at = model.find(n->name), there = other ? model.find(other->name) : 0;
        const unsigned op = random() % 6;
        if (std::string::npos == at && (0 == op || (op < 4 && !other))) {
            chain.addToLast(n);
            model += n->name;
        } else if (std::string::npos == at && 1 == op) {
            chain.addToFirst(n);
            model.insert(model.begin(), n->name);
        } else if (std::string::npos == at && 2 == op) {
            chain.insertBefore(n, other);
            model.insert(there, 1, n->name);
        } else if (std::string::npos == at && 3 == op) {
            chain.insertAfter(n, other);
            model.insert(there + 1, 1, n->name);
        } else if (std::string::npos != at && 4 == op) {
            chain.remove(n);
            model.erase(at, 1);
        } else if (0 == random() % 50) {
            chain.removeAll();
            model.clear();
        }
        ASSERT_EQ(model, walk(chain)) << "step " << step;
        ASSERT_EQ(model.size(), chain.count()) << "step " << step;
        ASSERT_EQ(model.empty() ? nullptr : &nodes[model.back() - 'a'], chain.last()) << step;
        ASSERT_EQ(std::string::npos != model.find(n->name), chain.contains(n)) << step;
    }
    Node stray { 'z' };
    EXPECT_CHECK_FAILS(chain.remove(&stray), "0 != t", "remove");
}
