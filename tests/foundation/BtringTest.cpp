#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;
using KovanTest::StderrCapture;

TEST(BtringTest, AssignKeepsCapacityMinusOneAndTracesOnlyWhenCut)
{
    StderrCapture err;
    Btring<8> fits("1234567");
    EXPECT_STREQ("1234567", fits.cString());
    EXPECT_EQ("", err.take());

    Btring<8> cut("12345678");
    EXPECT_STREQ("1234567", cut.cString());
    EXPECT_EQ(7u, cut.length());
    EXPECT_EQ("Btring::operator=() LONG TEXT: [8]\"12345678\"\n", err.take());

    // Copying another bounded string follows the same rule and never traces (it already fits).
    Btring<8> copy;
    copy = cut;
    EXPECT_TRUE(copy == cut);
    EXPECT_EQ("", err.take());
}

TEST(BtringTest, AssignClearsTheTailLikeStrncpy)
{
    Btring<8> s("abcdefg");
    s = "xy";
    const char* raw = s.cString();
    for (int i = 2; i < 8; ++i)
        EXPECT_EQ('\0', raw[i]) << i;
}

TEST(BtringTest, PrintfTracesOnExactFitAndOnCut)
{
    StderrCapture err;
    Btring<8> s;
    s.printf("%d", 123456);
    EXPECT_STREQ("123456", s.cString());
    EXPECT_EQ("", err.take());

    s.printf("%s", "1234567");
    EXPECT_STREQ("1234567", s.cString());
    EXPECT_EQ("Btring::printf() LONG TEXT : [7]\"1234567\"\n", err.take());

    s.printf("%s-%s", "abcd", "efgh");
    EXPECT_STREQ("abcd-ef", s.cString());
    EXPECT_EQ("Btring::printf() LONG TEXT : [7]\"abcd-ef\"\n", err.take());
}

TEST(BtringTest, AppendfAppendsAndLeavesAFullTextAlone)
{
    StderrCapture err;
    Btring<8> s("ab");
    s.appendf("%d", 12);
    EXPECT_STREQ("ab12", s.cString());
    EXPECT_EQ("", err.take());

    s.appendf("%s", "xyz");
    EXPECT_STREQ("ab12xyz", s.cString());
    EXPECT_EQ("Btring::appendf() LONG TEXT : [7]\"ab12xyz\"\n", err.take());

    s.appendf("%s", "more");
    EXPECT_STREQ("ab12xyz", s.cString());
    EXPECT_EQ("", err.take());

    // On an empty text appendf behaves as printf but for the wording of its line.
    Btring<256> big;
    big.appendf("%s", std::string(255, 'q').c_str());
    EXPECT_EQ(255u, big.length());
    EXPECT_EQ("Btring::appendf() LONG TEXT : [255]\"" + std::string(255, 'q') + "\"\n", err.take());
}

TEST(BtringTest, AppendAndComparisons)
{
    StderrCapture err;
    Btring<8> s("abc");
    s += "de";
    EXPECT_TRUE(s == "abcde");
    EXPECT_TRUE(s != "abcd");
    s.append("fgh");
    EXPECT_STREQ("abcdefg", s.cString());
    EXPECT_EQ("Btring::append() LONG TEXT: [5]\"abcde\" + [3]\"fgh\"\n", err.take());

    Btring<8> other("abcdefg");
    EXPECT_TRUE(s == other);
    other += Btring<8>("x");
    EXPECT_STREQ("abcdefg", other.cString());
    err.take();
    EXPECT_EQ(7u, Btring<8>::maxLength());
}

TEST(BtringTest, MakeEmptyClearsOnlyTheFirstByte)
{
    Btring<8> s("abcdef");
    s.makeEmpty();
    EXPECT_TRUE(s.isEmpty());
    EXPECT_EQ(0u, s.length());
    EXPECT_EQ('b', s.cString()[1]);
    EXPECT_EQ(8u, sizeof(s));
}

TEST(PtringTest, SameRulesOverTheCallersBuffer)
{
    StderrCapture err;
    char buf[8];
    Ptring p(buf, sizeof(buf), "12345678");
    EXPECT_STREQ("1234567", buf);
    EXPECT_EQ("Ptring::operator=() LONG TEXT: [8]\"12345678\"\n", err.take());

    p.printf("%s", "abcdefg");
    EXPECT_EQ("Ptring::printf() LONG TEXT : [7]\"abcdefg\"\n", err.take());

    p = "ab";
    p.appendf("%s", "cdefgh");
    EXPECT_STREQ("abcdefg", buf);
    EXPECT_EQ("Ptring::appendf() LONG TEXT : [7]\"abcdefg\"\n", err.take());

    p = "abc";
    p.append("de");
    EXPECT_STREQ("abcde", buf);
    EXPECT_EQ("", err.take());
    p.append("xyz");
    EXPECT_STREQ("abcdexy", buf);
    EXPECT_EQ("Ptring::append() LONG TEXT: [5]\"abcde\" + [3]\"xyz\"\n", err.take());

    // Onto a full text: the line is written and nothing is copied.
    p.append("z");
    EXPECT_STREQ("abcdexy", buf);
    EXPECT_EQ("Ptring::append() LONG TEXT: [7]\"abcdexy\" + [1]\"z\"\n", err.take());
    EXPECT_EQ(7u, p.maxLength());
}

TEST(PtringTest, NullTextKeepsTheBufferAndCopyStringCuts)
{
    StderrCapture err;
    char buf[16] = "kept";
    Ptring view(buf, sizeof(buf), nullptr);
    EXPECT_STREQ("kept", view.cString());

    char dst[16];
    EXPECT_EQ(dst, copyString(dst, 16, "123456789012345"));
    EXPECT_STREQ("123456789012345", dst);
    EXPECT_EQ("", err.take());
    copyString(dst, 15, "123456789012345");
    EXPECT_STREQ("12345678901234", dst);
    EXPECT_EQ("Ptring::operator=() LONG TEXT: [15]\"123456789012345\"\n", err.take());

    copyString(dst, 16, nullptr);
    EXPECT_STREQ("12345678901234", dst);
}

TEST(PtringDeathTest, NullBufferOrZeroSizeIsABrokenPrecondition)
{
    char buf[4];
    EXPECT_CHECK_FAILS(Ptring(nullptr, 4, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
    EXPECT_CHECK_FAILS(copyString(buf, 0, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
}
