#include "foundation/Trace.h"

#include "support/StderrCapture.h"

#include "foundation/Exception.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kovan;

namespace {

struct DerivedException : Exception {
    using Exception::Exception;
    void fill(const char* cls, const char* method) { init(nullptr, cls, method, 9, nullptr, 33); }
};

} // namespace

TEST(TraceTest, ASinkGetsEachMessageWholeAndRemovingItRestoresStandardError)
{
    std::vector<std::string> seen;
    const std::string longer(3000, 'x'); // past any buffer on the stack
    KovanTest::StderrCapture capture;
    setTraceSink(
        [](const char* text, size_t length, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
        },
        &seen);
    trace("SntpClient : %s %d\n", "connect failed", 7);
    trace("%s|", longer.c_str());
    trace("%s", "");
    setTraceSink(nullptr);
    trace("back %d\n", 1);
    EXPECT_EQ(
        std::vector<std::string>({ "SntpClient : connect failed 7\n", longer + "|", "" }), seen);
    EXPECT_EQ("back 1\n", capture.take());
}

TEST(ExceptionTest, InitKeepsTheFieldsItIsGivenNullForAndTraceShowsEveryField)
{
    KovanTest::StderrCapture err;
    DerivedException e("Derived", 7, "derived.cpp", 12);
    e.fill("Registry", "open");
    e.fill(nullptr, "");
    EXPECT_STREQ("Derived", static_cast<const std::exception&>(e).what());
    traceException(e);
    traceException(Exception("m", "Cls", "fn", "f.cpp", 4));
    EXPECT_EQ("Exception(Derived): code=9, Registry::() at derived.cpp:33\n"
              "Exception(m): code=0, Cls::fn() at f.cpp:4\n",
        err.take());
}
