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

TEST(ExceptionTest, CaughtAsStdExceptionWithTheMessageAndFieldsKept)
{
    // A program that knows nothing of Kovan still catches it, and a Kovan handler still sees
    // every field through the same object.
    try {
        throw DerivedException("Registry", 2, "Registry.cpp", 88);
    } catch (const std::exception& e) {
        EXPECT_STREQ("Registry", e.what());
        const auto* kovan = dynamic_cast<const Exception*>(&e);
        ASSERT_NE(nullptr, kovan);
        EXPECT_EQ(2, kovan->code());
        EXPECT_STREQ("Registry.cpp", kovan->fileName());
    }
    // The base adds no data: the vtable pointer was there already.
    EXPECT_EQ(sizeof(void*) + 4 * sizeof(Btring<32>) + 2 * sizeof(int32), sizeof(Exception));
}
