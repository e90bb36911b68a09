#include "foundation/SChain.h"

#include "support/StderrCapture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <list>
#include <random>
#include <string>

using namespace Kovan;

namespace {

struct Node {
    int value;
    Node* _nextNode = nullptr;
};

std::string walk(const SChain<Node>& chain)
{
    std::string out;
    for (Node* n = chain.first(); n; n = n->_nextNode)
        out += static_cast<char>('a' + n->value);
    return out;
}

} // namespace

TEST(SChainTest, RandomOperationsAgreeWithAListModel)
{
    Node nodes[8];
    for (int i = 0; i < 8; ++i)
        nodes[i].value = i;
    SChain<Node> chain;
    std::list<int> model;
    std::mt19937 random(17);
    for (int step = 0; step < 5000; ++step) {
        Node* n = &nodes[random() % 8];
        const auto at = std::find(model.begin(), model.end(), n->value);
        const int op = static_cast<int>(random() % 6);
        if (model.end() == at && op < 4) {
            // Each kind of insertion, next to a random member when there is one.
            Node* other = model.empty()
                ? nullptr
                : &nodes[*std::next(model.begin(), random() % model.size())];
            const auto there
                = other ? std::find(model.begin(), model.end(), other->value) : model.end();
            if (0 == op || !other) {
                chain.addToLast(n);
                model.push_back(n->value);
            } else if (1 == op) {
                chain.addToFirst(n);
                model.push_front(n->value);
            } else if (2 == op) {
                chain.insertBefore(n, other);
                model.insert(there, n->value);
            } else {
                chain.insertAfter(n, other);
                model.insert(std::next(there), n->value);
            }
        } else if (model.end() != at && 4 == op) {
            chain.remove(n);
            model.erase(at);
        } else if (0 == random() % 50) {
            chain.removeAll();
            model.clear();
        }
        std::string want;
        for (int v : model)
            want += static_cast<char>('a' + v);
        ASSERT_EQ(want, walk(chain)) << "step " << step;
        ASSERT_EQ(model.size(), chain.count()) << "step " << step;
        ASSERT_EQ(model.empty() ? nullptr : &nodes[model.back()], chain.last()) << "step " << step;
        ASSERT_EQ(
            model.end() != std::find(model.begin(), model.end(), n->value), chain.contains(n));
    }
}

TEST(SChainTest, RemovingANonMemberIsACheck)
{
    Node a { 1 }, b { 2 };
    SChain<Node> chain;
    chain.addToLast(&b);
    EXPECT_CHECK_FAILS(chain.remove(&a), "0 != t", "remove");
}
