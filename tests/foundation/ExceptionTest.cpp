#include "foundation/Exception.h"

#include "support/StderrCapture.h"

#include "foundation/Trace.h"

#include <gtest/gtest.h>

using namespace Kovan;
using KovanTest::StderrCapture;

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
    StderrCapture err;
    const char* m31 = "1234567890123456789012345678901";
    Exception whole(m31, 1, "f.cpp", 2);
    EXPECT_STREQ(m31, whole.message());
    EXPECT_EQ("", err.take());

    Exception cut("12345678901234567890123456789012", 1, "f.cpp", 2);
    EXPECT_STREQ(m31, cut.message());
    EXPECT_EQ(
        "Btring::operator=() LONG TEXT: [32]\"12345678901234567890123456789012\"\n", err.take());
}

TEST(ExceptionTest, InitKeepsFieldsForNullTextsAndClearsForEmptyOnes)
{
    DerivedException e;
    e.fill("Cls", "method");
    EXPECT_STREQ("Derived", e.message());
    EXPECT_STREQ("Cls", e.className());
    EXPECT_STREQ("method", e.methodName());
    EXPECT_STREQ("derived.cpp", e.fileName());
    EXPECT_EQ(9, e.code());
    EXPECT_EQ(33, e.lineNumber());

    e.fill(nullptr, "");
    EXPECT_STREQ("Cls", e.className());
    EXPECT_STREQ("", e.methodName());
}

TEST(ExceptionTest, TraceExceptionLine)
{
    StderrCapture err;
    DerivedException e;
    e.fill("Registry", "open");
    traceException(e);
    EXPECT_EQ("Exception(Derived): code=9, Registry::open() at derived.cpp:33\n", err.take());

    // Built from a message and a code only: the other positions stay empty, line 0.
    traceException(Exception("Registry", 3, nullptr, 0));
    EXPECT_EQ("Exception(Registry): code=3, ::() at :0\n", err.take());

    // Polymorphic catch by the base class.
    try {
        throw DerivedException();
    } catch (const Exception& caught) {
        EXPECT_EQ(7, caught.code());
    }
}

TEST(TraceTest, WritesExactlyWhatItIsGivenWithoutANewline)
{
    StderrCapture err;
    trace("part %d", 1);
    trace(" and %s\n", "two");
    EXPECT_EQ("part 1 and two\n", err.take());
}
