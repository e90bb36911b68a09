#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include "foundation/Exception.h"
#include "foundation/Trace.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

// The text an operation left, then exactly what it traced.
class BtringTest : public ::testing::Test {
protected:
    std::string seen(const char* text) { return std::string(text) + "|" + _err.take(); }
    KovanTest::StderrCapture _err;
};

// A derived class reaches the protected init, as the library's own exceptions do.
struct DerivedException : Exception {
    DerivedException()
        : Exception("Derived", 7, "derived.cpp", 12)
    {
    }
    void fill(const char* cls, const char* method) { init(nullptr, cls, method, 9, nullptr, 33); }
};

} // namespace

TEST_F(BtringTest, CopyFormatAndAppendCutAtTheCapacityWithTheirLines)
{
    Btring<8> s("1234567");
    EXPECT_EQ("1234567|Btring::operator=() LONG TEXT: [8]\"12345678\"\n",
        seen((s = "12345678").cString()));
    EXPECT_EQ("123456|", seen(s.printf("%d", 123456)));
    // printf traces an exact fit too: the length cannot tell a fit from a cut.
    EXPECT_EQ("1234567|Btring::printf() LONG TEXT : [7]\"1234567\"\n", seen(s.printf("1234567")));
    EXPECT_EQ("abcd-ef|Btring::printf() LONG TEXT : [7]\"abcd-ef\"\n",
        seen(s.printf("%s-%s", "abcd", "efgh")));
    s = "ab";
    EXPECT_EQ("ab12|", seen(s.appendf("%d", 12)));
    EXPECT_EQ("ab12xyz|Btring::appendf() LONG TEXT : [7]\"ab12xyz\"\n", seen(s.appendf("xyz")));
    EXPECT_EQ("ab12xyz|", seen(s.appendf("more")));

    s = "abc";
    s += "de";
    EXPECT_TRUE(s == "abcde" && s != "abcd");
    EXPECT_EQ(
        "abcdefg|Btring::append() LONG TEXT: [5]\"abcde\" + [3]\"fgh\"\n", seen(s.append("fgh")));
    // Copying a bounded string never traces: it always fits. Onto a full text nothing is copied.
    Btring<8> copy;
    copy = s;
    EXPECT_TRUE(copy == s);
    EXPECT_EQ("abcdefg|Btring::append() LONG TEXT: [7]\"abcdefg\" + [1]\"x\"\n",
        seen((copy += Btring<8>("x")).cString()));

    // Assigning clears the tail; makeEmpty only the first byte.
    s = "xy";
    EXPECT_EQ(0, memcmp("xy\0\0\0\0\0", s.cString(), 8));
    s = "abcdef";
    s.makeEmpty();
    EXPECT_TRUE(s.isEmpty() && 0u == s.length() && 'b' == s.cString()[1]);
    EXPECT_EQ(8u, sizeof(s));
}

TEST_F(BtringTest, PtringKeepsTheSameRulesOverTheCallersBuffer)
{
    char buf[8];
    Ptring p(buf, sizeof(buf), "12345678");
    EXPECT_EQ("1234567|Ptring::operator=() LONG TEXT: [8]\"12345678\"\n", seen(buf));
    EXPECT_EQ("abcdefg|Ptring::printf() LONG TEXT : [7]\"abcdefg\"\n", seen(p.printf("abcdefg")));
    p = "ab";
    EXPECT_EQ("abcdefg|Ptring::appendf() LONG TEXT : [7]\"abcdefg\"\n", seen(p.appendf("cdefgh")));
    p = "abcde";
    EXPECT_EQ(
        "abcdexy|Ptring::append() LONG TEXT: [5]\"abcde\" + [3]\"xyz\"\n", seen(p.append("xyz")));

    // A null text leaves the buffer as it was.
    char kept[16] = "kept";
    EXPECT_STREQ("kept", Ptring(kept, sizeof(kept), nullptr).cString());
    char dst[16];
    EXPECT_EQ("123456789012345|", seen(copyString(dst, 16, "123456789012345")));
    EXPECT_EQ("12345678901234|Ptring::operator=() LONG TEXT: [15]\"123456789012345\"\n",
        seen(copyString(dst, 15, "123456789012345")));
    EXPECT_EQ("12345678901234|", seen(copyString(dst, 16, nullptr)));
    EXPECT_CHECK_FAILS(Ptring(nullptr, 4, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
    EXPECT_CHECK_FAILS(copyString(dst, 0, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
}

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
