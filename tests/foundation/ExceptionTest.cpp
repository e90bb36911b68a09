#include "foundation/Exception.h"

#include "support/StderrCapture.h"

#include "foundation/Trace.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// A derived class reaches the protected init, as the library's own exceptions do.
class DerivedException : public Exception {
public:
    DerivedException()
        : Exception("Derived", 7, "derived.cpp", 12)
    {
    }
    void fill(const char* cls, const char* method) { init(nullptr, cls, method, 9, nullptr, 33); }
};

} // namespace

TEST(ExceptionTest, MessageOf31KeepsWholeAnd32IsCutWithTheAssignmentLine)
{
    KovanTest::StderrCapture err;
    const char* m31 = "1234567890123456789012345678901";
    EXPECT_STREQ(m31, Exception(m31, 1, "f.cpp", 2).message());
    EXPECT_EQ("", err.take());
    EXPECT_STREQ(m31, Exception("12345678901234567890123456789012", 1, "f.cpp", 2).message());
    EXPECT_EQ(
        "Btring::operator=() LONG TEXT: [32]\"12345678901234567890123456789012\"\n", err.take());
}

TEST(ExceptionTest, InitKeepsFieldsForNullTextsAndTraceExceptionShowsThem)
{
    KovanTest::StderrCapture err;
    DerivedException e;
    e.fill("Registry", "open");
    traceException(e);
    EXPECT_EQ("Exception(Derived): code=9, Registry::open() at derived.cpp:33\n", err.take());
    e.fill(nullptr, "");
    EXPECT_STREQ("Registry", e.className());
    EXPECT_STREQ("", e.methodName());

    // Built from a message and a code only: the other positions stay empty, line 0.
    traceException(Exception("Registry", 3, nullptr, 0));
    EXPECT_EQ("Exception(Registry): code=3, ::() at :0\n", err.take());

    // trace adds nothing of its own, not even the newline.
    trace("part %d", 1);
    trace(" and %s\n", "two");
    EXPECT_EQ("part 1 and two\n", err.take());
}
