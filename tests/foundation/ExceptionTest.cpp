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
