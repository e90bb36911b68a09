#include "foundation/TimeFormatter.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

std::string printed(const TimeFormatter& f, const Time& t)
{
    char out[64];
    return f.print(out, sizeof(out), t);
}

} // namespace

TEST(TimeFormatterTest, BuiltInFormats)
{
    const char* expected[] = { "%Y/%m/%d", "%m/%d/%Y", "%d/%m/%Y", "%y/%m/%d", "%m/%d/%y",
        "%d/%m/%y", "%H:%M", "%H:%M:%S", "%I:%M", "%I:%M:%S", "%I:%M %p", "%I:%M:%S %p", "%p %I:%M",
        "%p %I:%M:%S" };
    for (int32 i = 0; i < TimeFormatter::FORMAT_COUNT; ++i)
        EXPECT_STREQ(expected[i], TimeFormatter(i, '/').format()) << i;
    EXPECT_STREQ("%d.%m.%Y", TimeFormatter(2, '.').format());
    // Outside the table there is no format.
    EXPECT_FALSE(TimeFormatter(14, '/').isValid());

    const Time t(2009, 3, 7, 13, 5, 9);
    EXPECT_EQ("07.03.09", printed(TimeFormatter(5, '.'), t));
    EXPECT_EQ("01:05 PM", printed(TimeFormatter(10, ':'), t));
    EXPECT_EQ("AM 12:00:00", printed(TimeFormatter(13, ':'), Time(2009, 3, 7, 0, 0, 0)));
    const std::string own = std::string(TimeFormatter::YEAR4) + "|" + TimeFormatter::HOUR24;
    EXPECT_EQ("2009|13", printed(TimeFormatter(own.c_str()), t));
}

TEST(TimeFormatterTest, AmPmTextsReplaceTheMarker)
{
    TimeFormatter f(10, ':');
    f.setAmpmString("am", "nachm");
    EXPECT_EQ("11:59 am", printed(f, Time(2009, 3, 7, 11, 59, 0)));
    EXPECT_EQ("12:00 nachm", printed(f, Time(2009, 3, 7, 12, 0, 0)));
    // A doubled percent sign before p stays literal; a lone % at the end is kept.
    f.setFormat("%%p %p %H%");
    EXPECT_EQ("%p nachm 13%", printed(f, Time(2009, 3, 7, 13, 5, 0)));
    // Only both texts together switch the replacement on.
    TimeFormatter half(12, ':');
    half.setAmpmString("", "pm!");
    EXPECT_EQ("PM 01:05", printed(half, Time(2009, 3, 7, 13, 5, 0)));
}

TEST(TimeFormatterTest, OverlongTextsAreCutOrEmpty)
{
    KovanTest::StderrCapture err;
    const std::string format = "%Y-%m-%d %H:%M:%S and then more text";
    EXPECT_EQ(format.substr(0, 31), TimeFormatter(format.c_str()).format());
    EXPECT_EQ("Btring::operator=() LONG TEXT: [36]\"" + format + "\"\n", err.take());
    char small[5] = { 'x', 'x', 'x', 'x', 'x' };
    TimeFormatter(0, '/').print(small, sizeof(small), Time(2009, 3, 7, 0, 0, 0));
    EXPECT_EQ('\0', small[0]);
}
