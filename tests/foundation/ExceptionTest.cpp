#include "foundation/Exception.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

struct DerivedException : Exception {
    using Exception::Exception;
    void fill(const char* cls, const char* method) { init(nullptr, cls, method, 9, nullptr, 33); }
};

} // namespace

TEST(ExceptionTest, InitKeepsFieldsGivenNullAndTraceShowsEveryField)
{
    KovanTest::StderrCapture err;
    DerivedException e("Derived", 7, "derived.cpp", 12);
    e.fill("Registry", "open");
    e.fill(nullptr, "");
    traceException(e);
    traceException(Exception("m", "Cls", "fn", "f.cpp", 4));
    EXPECT_EQ("Exception(Derived): code=9, Registry::() at derived.cpp:33\n"
              "Exception(m): code=0, Cls::fn() at f.cpp:4\n",
        err.take());
}

TEST(ExceptionTest, AStdExceptionHandlerSeesTheMessageAndAKovanOneEveryField)
{
    const DerivedException thrown("Registry", 2, "Registry.cpp", 88);
    const std::exception& e = thrown;
    EXPECT_STREQ("Registry", e.what());
    const auto& kovan = dynamic_cast<const Exception&>(e);
    EXPECT_EQ(std::make_pair(2, 88), std::make_pair(kovan.code(), kovan.lineNumber()));
    EXPECT_STREQ("Registry.cpp", kovan.fileName());
}
