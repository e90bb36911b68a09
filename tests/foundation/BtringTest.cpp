#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

TEST(BtringTest, EachOperationCutsAtCapacityTracesTheCutAndNeverWritesPastIt)
{
    enum Op { ASSIGN, APPEND, PRINTF, APPENDF };
    const auto apply = [](Ptring& p, Op op, const char* arg) {
        return ASSIGN == op ? (p = arg).cString()
            : APPEND == op  ? p.append(arg)
            : PRINTF == op  ? p.printf("%s", arg)
                            : p.appendf("%s", arg);
    };
    // An 8-byte view holds 7 characters. printf and appendf trace an exact fit too; a full text
    // takes no appendf and says nothing.
    const struct {
        Op op;
        const char *start, *arg, *want;
        bool traced;
    } cases[] = {
        { ASSIGN, "ab", "", "", false },
        { ASSIGN, "", "abcdef", "abcdef", false },
        { ASSIGN, "ab", "abcdefg", "abcdefg", false },
        { ASSIGN, "ab", "abcdefgh", "abcdefg", true },
        { APPEND, "ab", "ab", "abab", false },
        { APPEND, "abcdef", "x", "abcdefx", false },
        { APPEND, "abcdef", "ab", "abcdefa", true },
        { APPEND, "abcdefg", "", "abcdefg", false },
        { APPEND, "ab", "abcdefghijklmnop", "ababcde", true },
        { PRINTF, "ab", "abcdef", "abcdef", false },
        { PRINTF, "ab", "abcdefg", "abcdefg", true },
        { PRINTF, "abcdefg", "", "", false },
        { PRINTF, "", "abcdefghijklmnop", "abcdefg", true },
        { APPENDF, "ab", "abcd", "ababcd", false },
        { APPENDF, "abcdef", "x", "abcdefx", true },
        { APPENDF, "abcdefg", "", "abcdefg", false },
        { APPENDF, "abcdefg", "ab", "abcdefg", false },
        { APPENDF, "ab", "abcdefgh", "ababcde", true },
    };
    KovanTest::StderrCapture err;
    for (const auto& c : cases) {
        char buf[40]; // an 8-byte view in it: a write past the view shows in any build
        memset(buf, '#', sizeof(buf));
        Ptring p(buf, 8, c.start);
        err.take();
        const std::string where = std::to_string(c.op) + " '" + c.start + "' '" + c.arg + "'";
        EXPECT_STREQ(c.want, apply(p, c.op, c.arg)) << where;
        EXPECT_EQ(c.traced, !err.take().empty()) << where;
        EXPECT_EQ(std::string(32, '#'), std::string(buf + 8, 32)) << "overrun: " << where;
    }
    char buffer[4];
    EXPECT_CHECK_FAILS(copyString(buffer, 0, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
}
