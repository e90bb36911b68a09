// trace and its sink: a program's own sink gets every message whole, standard error gets them
// again once the sink is removed.
#include "foundation/Trace.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

void collect(const char* text, size_t length, void* context)
{
    static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
}

} // namespace

TEST(TraceTest, ASinkGetsEachMessageWholeAndRemovingItRestoresStandardError)
{
    std::vector<std::string> seen;
    const std::string longer(3000, 'x'); // past any buffer on the stack
    KovanTest::StderrCapture capture;
    Kovan::setTraceSink(collect, &seen);
    trace("SntpClient : %s %d\n", "connect failed", 7);
    trace("%s|", longer.c_str());
    trace("no newline");
    Kovan::setTraceSink(nullptr);
    trace("back %d\n", 1);
    EXPECT_EQ(
        std::vector<std::string>({ "SntpClient : connect failed 7\n", longer + "|", "no newline" }),
        seen);
    EXPECT_EQ("back 1\n", capture.take());
}
