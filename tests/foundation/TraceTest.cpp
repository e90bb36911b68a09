#include "foundation/Trace.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

TEST(TraceTest, ASinkGetsEachMessageWholeAndRemovingItRestoresStandardError)
{
    std::vector<std::string> seen;
    const std::string longer(3000, 'x'); // past any buffer on the stack
    KovanTest::StderrCapture capture;
    Kovan::setTraceSink(
        [](const char* text, size_t length, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
        },
        &seen);
    trace("SntpClient : %s %d\n", "connect failed", 7);
    trace("%s|", longer.c_str());
    trace("%s", "");
    Kovan::setTraceSink(nullptr);
    trace("back %d\n", 1);
    EXPECT_EQ(
        std::vector<std::string>({ "SntpClient : connect failed 7\n", longer + "|", "" }), seen);
    EXPECT_EQ("back 1\n", capture.take());
}
