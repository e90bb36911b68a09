#include "foundation/TimeFormatter.h"

#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

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

TEST(TimeFormatterTest, BuiltInFormatsPrintAsTheCLibraryDoes)
{
    for (const Time& t : { Time(2009, 3, 7, 13, 5, 9), Time(2031, 12, 31, 0, 0, 0) }) {
        const tm broken
            = KovanTest::fields(t.year(), t.month(), t.day(), t.hour(), t.minute(), t.second());
        for (int32 i = 0; i < TimeFormatter::FORMAT_COUNT; ++i) {
            const TimeFormatter f(i, '.');
            char want[64];
            // Through a pointer: the format is the formatter's, not a literal the compiler checks.
            size_t (*const cFormat)(char*, size_t, const char*, const tm*) = strftime;
            ASSERT_LT(0u, cFormat(want, sizeof(want), f.format(), &broken)) << f.format();
            EXPECT_EQ(want, printed(f, t)) << f.format();
        }
    }
    // Two samples, so that the table itself is held too: a date and a 12-hour time.
    EXPECT_EQ("07.03.09", printed(TimeFormatter(5, '.'), Time(2009, 3, 7, 13, 5, 9)));
    EXPECT_EQ("AM 12:00:00", printed(TimeFormatter(13, ':'), Time(2009, 3, 7, 0, 0, 0)));
    EXPECT_FALSE(TimeFormatter(TimeFormatter::FORMAT_COUNT, '/').isValid());
}

TEST(TimeFormatterTest, AmPmTextsReplaceTheMarkerOnlyWhenBothAreSet)
{
    TimeFormatter f("%I:%M %p");
    f.setAmpmString("am", "nachm");
    EXPECT_EQ("11:59 am", printed(f, Time(2009, 3, 7, 11, 59, 0)));
    EXPECT_EQ("12:00 nachm", printed(f, Time(2009, 3, 7, 12, 0, 0)));
    // A doubled percent sign before p stays literal; a lone % at the end is kept.
    f.setFormat("%%p %p %H%");
    EXPECT_EQ("%p nachm 13%", printed(f, Time(2009, 3, 7, 13, 5, 0)));
    TimeFormatter half("%p %I:%M");
    half.setAmpmString("", "pm!");
    EXPECT_EQ("PM 01:05", printed(half, Time(2009, 3, 7, 13, 5, 0)));
}

TEST(TimeFormatterTest, ATextThatDoesNotFitIsEmpty)
{
    char small[5] = { 'x', 'x', 'x', 'x', 'x' };
    TimeFormatter(0, '/').print(small, sizeof(small), Time(2009, 3, 7, 0, 0, 0));
    EXPECT_EQ('\0', small[0]);
}
