#include "foundation/TimeFormatter.h"

#include "support/StderrCapture.h"

#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

TEST(TimeFormatterTest, BuiltInFormatsTakeTheSeparatorInDatesOnlyAndAmPmTextsBothOrNone)
{
    const auto printed = [](const TimeFormatter& f, const Time& t) {
        char out[64];
        return std::string(f.print(out, sizeof(out), t));
    };
    const Time t(2009, 3, 7, 13, 5, 9);
    EXPECT_EQ("2009-03-07", printed(TimeFormatter(0, '-'), t));
    EXPECT_EQ("07.03.09", printed(TimeFormatter(5, '.'), t));
    EXPECT_EQ("AM 12:00:00", printed(TimeFormatter(13, ':'), Time(2009, 3, 7, 0, 0, 0)));
    EXPECT_FALSE(TimeFormatter(TimeFormatter::FORMAT_COUNT, '/').isValid());
    EXPECT_FALSE(TimeFormatter(-1, '/').isValid());
    char small[5] = { 'x', 'x', 'x', 'x', 'x' };
    TimeFormatter(0, '/').print(small, sizeof(small), t);
    EXPECT_EQ('\0', small[0]);
    TimeFormatter f("%I:%M %p");
    f.setAmpmString("am", "nachm"); // they replace the marker only when both are set
    EXPECT_EQ("11:59 am", printed(f, Time(2009, 3, 7, 11, 59, 0)));
    EXPECT_EQ("12:00 nachm", printed(f, Time(2009, 3, 7, 12, 0, 0)));
    f.setFormat("%%p %p %H%"); // a doubled % before p stays literal, a lone one at the end too
    EXPECT_EQ("%p nachm 13%", printed(f, Time(2009, 3, 7, 13, 5, 0)));
    TimeFormatter half("%p %I:%M");
    half.setAmpmString("", "pm!");
    EXPECT_EQ("PM 01:05", printed(half, Time(2009, 3, 7, 13, 5, 0)));
}
