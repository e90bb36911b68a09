#include "foundation/Btring.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

TEST(BtringTest, EveryOperationMatchesAStringModelCutAtCapacityAndNeverWritesPastIt)
{
    enum Op { ASSIGN, APPEND, PRINTF, APPENDF };
    const auto apply = [](Ptring& p, Op op, const char* arg) {
        return ASSIGN == op ? (p = arg).cString()
            : APPEND == op  ? p.append(arg)
            : PRINTF == op  ? p.printf("%s", arg)
                            : p.appendf("%s", arg);
    };
    KovanTest::StderrCapture err;
    const char* texts[] = { "", "ab", "abcdef", "abcdefg", "abcdefgh", "abcdefghijklmnop" };
    for (Op op : { ASSIGN, APPEND, PRINTF, APPENDF }) {
        for (const char* start : texts) {
            for (const char* arg : texts) {
                char buf[40]; // an 8-byte view in it: a write past the view shows in any build
                memset(buf, '#', sizeof(buf));
                Ptring p(buf, 8, start);
                err.take();
                const std::string before = p.cString();
                const std::string full = (ASSIGN == op || PRINTF == op) ? arg : before + arg;
                // A full text takes no appendf; printf and appendf trace an exact fit too.
                const bool full7 = 7 == before.size();
                const std::string want = APPENDF == op && full7 ? before : full.substr(0, 7);
                const bool traced = APPENDF == op ? !full7 && 7 <= full.size()
                    : PRINTF == op                ? 7 <= full.size()
                                                  : 7 < full.size();
                const std::string where = std::to_string(op) + " '" + start + "' '" + arg + "'";
                EXPECT_EQ(want, apply(p, op, arg)) << where;
                EXPECT_EQ(traced, !err.take().empty()) << where;
                EXPECT_EQ(std::string(32, '#'), std::string(buf + 8, 32)) << "overrun: " << where;
            }
        }
    }
    char buffer[4];
    EXPECT_CHECK_FAILS(copyString(buffer, 0, "x"), "0 != _buffer && 0 < _bufferSize", "Ptring");
}
