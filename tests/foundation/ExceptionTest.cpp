#include "foundation/Exception.h"

#include "support/StderrCapture.h"

#include "foundation/Trace.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// A derived class reaches the protected init, as the library's own exceptions do.
struct DerivedException : Exception {
    DerivedException()
        : Exception("Derived", 7, "derived.cpp", 12)
    {
    }
    void fill(const char* cls, const char* method) { init(nullptr, cls, method, 9, nullptr, 33); }
};

} // namespace

TEST(ExceptionTest, MessageCutAt31AndTraceExceptionShowsEveryField)
{
    KovanTest::StderrCapture err;
    const char* m31 = "1234567890123456789012345678901";
    EXPECT_STREQ(m31, Exception(m31, 1, "f.cpp", 2).message());
    EXPECT_STREQ(m31, Exception("12345678901234567890123456789012", 1, "f.cpp", 2).message());
    EXPECT_EQ(
        "Btring::operator=() LONG TEXT: [32]\"12345678901234567890123456789012\"\n", err.take());

    DerivedException e;
    e.fill("Registry", "open");
    traceException(e);
    // Null texts leave the fields as they were.
    e.fill(nullptr, "");
    EXPECT_STREQ("Registry", e.className());
    EXPECT_STREQ("", e.methodName());
    traceException(Exception("Registry", 3, nullptr, 0));
    // trace adds nothing of its own, not even the newline.
    trace("part %d and %s\n", 1, "two");
    EXPECT_EQ("Exception(Derived): code=9, Registry::open() at derived.cpp:33\n"
              "Exception(Registry): code=3, ::() at :0\npart 1 and two\n",
        err.take());
}
