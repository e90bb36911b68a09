// quillo-rtc's texts: ISO 8601 times against instants worked out independently, the chip's years,
// register numbers and durations.
#include "tool/RtcText.h"

#include "support/TimeSupport.h"

#include "tool/RtcFailure.h"

#include <gtest/gtest.h>

using namespace Kovan;

namespace {

// Debian 12's 32-bit ARM has a 32-bit time_t: instants past 2038 or before 1901 are left out there.
bool fitsTimeT(long long instant)
{
    return static_cast<long long>(static_cast<time_t>(instant)) == instant;
}

TEST(RtcTextTest, ParseIsoAcceptsTheFormsItNamesAndNothingElse)
{
    // A zone with summer time: local times in it are CEST (+2) in July and CET (+1) in January.
    KovanTest::ScopedTz zone("Europe/Berlin");
    const time_t noon = 1941365337; // 2031-07-09T12:08:57Z
    const struct {
        const char* text;
        bool valid;
        long long instant;
    } cases[] = {
        { "2031-07-09T12:08:57Z", true, noon }, { "2031-07-09t12:08:57z", true, noon },
        { "2031-07-09 12:08:57Z", true, noon }, { "2031-07-09T21:08:57+09:00", true, noon },
        { "2031-07-09T21:08:57+0900", true, noon }, { "2031-07-09T21:08:57+09", true, noon },
        { "2031-07-09T03:38:57-08:30", true, noon }, { "2031-07-09T12:08:57.999Z", true, noon },
        { "2031-07-09T12:08:57,5Z", true, noon }, { "2031-07-09T14:08:57", true, noon },
        { "2031-01-09T13:08:57", true, 1925726937 }, { "2032-02-29T00:00:00Z", true, 1961625600 },
        // Beyond the chip's years it still parses: the chip's own check says why it cannot be.
        { "1900-01-01T00:00:00Z", true, -2208988800 },
        { "9999-12-31T23:59:59Z", true, 253402300799 }, { "2031-02-29T00:00:00Z", false, 0 },
        { "2031-13-01T00:00:00Z", false, 0 }, { "2031-00-01T00:00:00Z", false, 0 },
        { "2031-07-00T00:00:00Z", false, 0 }, { "2031-07-09T24:00:00Z", false, 0 },
        { "2031-07-09T12:60:00Z", false, 0 }, { "2031-07-09T12:00:60Z", false, 0 },
        { "2031-07-09T12:08:57+24:00", false, 0 }, { "2031-07-09T12:08:57+09:60", false, 0 },
        { "2031-07-09T12:08:57+9", false, 0 }, { "2031-07-09T12:08:57.Z", false, 0 },
        { "2031-07-09T12:08:57Zjunk", false, 0 }, { "2031-07-09X12:08:57Z", false, 0 },
        { "2031-7-09T12:08:57Z", false, 0 }, { "2031-07-09", false, 0 }, { "", false, 0 },
        { "2031-03-30T02:30:00", false, 0 }, // the hour summer time skips
    };
    for (const auto& c : cases) {
        time_t instant = 0;
        if (fitsTimeT(c.instant)) {
            EXPECT_EQ(c.valid, parseIso(c.text, &instant)) << c.text;
            EXPECT_EQ(c.instant, c.valid ? instant : 0) << c.text;
        }
    }
    EXPECT_EQ("2031-07-09T14:08:57+02:00", isoTime(noon, false));
    EXPECT_EQ("2031-07-09T12:08:57+00:00", isoTime(noon, true));
    EXPECT_EQ("2031-07-09T12:08:58.000Z", isoUtcMs(noon + 0.9996));
}

TEST(RtcTextTest, TheChipTakesTheYears2000To2099Only)
{
    const struct {
        long long instant;
        bool fits;
    } cases[] = { { 946684799, false }, { 946684800, true }, { 4102444799, true },
        { 4102444800, false }, { -2208988800, false }, { 0, false } };
    for (const auto& c : cases) {
        if (!fitsTimeT(c.instant))
            continue;
        unsigned char fields[7] = {};
        bool fits = true;
        try {
            calendarFor(static_cast<time_t>(c.instant), true, fields);
        } catch (const Failure&) {
            fits = false;
        }
        EXPECT_EQ(c.fits, fits && validCalendar(fields)) << c.instant;
        EXPECT_EQ(c.fits ? c.instant : 0, fits ? calendarInstant(fields, true) : 0) << c.instant;
    }
}

TEST(RtcTextTest, NumbersAreDecimalOrHexAndDurationsTakeAUnit)
{
    // -1: refused, and the value left alone.
    const std::pair<const char*, long> numbers[] = { { "0x1f", 31 }, { "0XFF", 255 }, { "31", 31 },
        { "010", 10 }, { "0", 0 }, { "256", -1 }, { "0x100", -1 }, { "0x", -1 }, { "", -1 },
        { "-1", -1 }, { "1a", -1 }, { "0x1g", -1 }, { "99999999999999999999999", -1 } };
    for (const auto& [text, expected] : numbers) {
        long value = -1;
        EXPECT_EQ(expected >= 0, parseNumber(text, 255, &value)) << text;
        EXPECT_EQ(expected, value) << text;
    }
    const std::pair<const char*, double> durations[]
        = { { "90", 90 }, { "1.5m", 90 }, { "2h", 7200 }, { "5s", 5 }, { "0", 0 }, { "-1", -1 },
              { "x", -1 }, { "5ms", -1 }, { "1e9", -1 }, { "nan", -1 }, { "", -1 } };
    for (const auto& [text, expected] : durations) {
        double seconds = -1;
        EXPECT_EQ(expected >= 0, parseSeconds(text, &seconds)) << text;
        EXPECT_EQ(expected, seconds) << text;
    }
}

} // namespace
