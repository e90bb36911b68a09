#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

TEST(BtringTest, EachOperationCutsAtCapacityTracesTheCutAndNeverWritesPastIt)
{
    // '=' assign, '+' append, 'p' printf, 'a' appendf. An 8-byte view holds 7 characters. printf
    // and appendf trace an exact fit too; a full text takes no appendf and says nothing.
    const struct {
        char op;
        const char *start, *arg, *want;
        bool traced;
    } cases[] = { { '=', "ab", "", "", false }, { '=', "", "abcdef", "abcdef", false },
        { '=', "ab", "abcdefg", "abcdefg", false }, { '=', "ab", "abcdefgh", "abcdefg", true },
        { '+', "ab", "ab", "abab", false }, { '+', "abcdef", "x", "abcdefx", false },
        { '+', "abcdef", "ab", "abcdefa", true }, { '+', "abcdefg", "", "abcdefg", false },
        { '+', "ab", "abcdefghijklmnop", "ababcde", true },
        { 'p', "ab", "abcdef", "abcdef", false }, { 'p', "ab", "abcdefg", "abcdefg", true },
        { 'p', "abcdefg", "", "", false }, { 'p', "", "abcdefghijklmnop", "abcdefg", true },
        { 'a', "ab", "abcd", "ababcd", false }, { 'a', "abcdef", "x", "abcdefx", true },
        { 'a', "abcdefg", "", "abcdefg", false }, { 'a', "abcdefg", "ab", "abcdefg", false },
        { 'a', "ab", "abcdefgh", "ababcde", true } };
    KovanTest::StderrCapture err;
    for (const auto& c : cases) {
        char buf[40]; // an 8-byte view in it: a write past the view shows in any build
        memset(buf, '#', sizeof(buf));
        Ptring p(buf, 8, c.start);
        err.take();
        const char* got = '=' == c.op ? (p = c.arg).cString()
            : '+' == c.op             ? p.append(c.arg)
            : 'p' == c.op             ? p.printf("%s", c.arg)
                                      : p.appendf("%s", c.arg);
        const std::string where = c.op + std::string(" '") + c.start + "' '" + c.arg + "'";
        EXPECT_STREQ(c.want, got) << where;
        EXPECT_EQ(c.traced, !err.take().empty()) << where;
        EXPECT_EQ(std::string(32, '#'), std::string(buf + 8, 32)) << "overrun: " << where;
    }
    char buffer[4];
    EXPECT_EQ(buffer, copyString(buffer, sizeof(buffer), "abcdef"));
    EXPECT_STREQ("abc", buffer);
    EXPECT_CHECK_FAILS(copyString(buffer, 0, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
}
