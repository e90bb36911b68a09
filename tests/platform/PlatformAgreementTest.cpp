// The host and the field boards must compute the same thing (32-bit long and time_t, unsigned
// char and another C++ runtime are the usual ways they drift apart): every day of 1970..2037 goes
// through the calendar, time-zone, packed-word, formatting and NTP code, and the lines fold into
// one MD5 digest that is a constant. When it changes on purpose, take the new value from the
// host's failure message and check that armhf prints the same; KOVAN_PLATFORM_DUMP=FILE on both
// writes the lines out to show where they part.
#include "support/TimeSupport.h"

#include "foundation/Time.h"
#include "foundation/TimeFormatter.h"
#include "registry/Md5.h"
#include "sntp/SntpTime.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

namespace {

// One line more for the digest (and the dump).
void add(std::string* lines, const char* format, ...) __attribute__((format(printf, 2, 3)));
void add(std::string* lines, const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    ASSERT_TRUE(n > 0 && n < int(sizeof(line))) << format;
    lines->append(line, size_t(n));
}

} // namespace

TEST(PlatformAgreementTest, EveryDayOf1970To2037GivesTheSameResults)
{
    // A rule written out, not a zone file: the digest must not move with the machine's tzdata.
    KovanTest::ScopedTz zone("EST5EDT,M3.2.0,M11.1.0");
    std::string lines;
    const Time epoch(1970, 1, 1, 0, 0, 0);
    int index = 0;
    for (int32 year = 1970; year <= 2037; ++year) {
        for (int32 month = 1; month <= 12; ++month) {
            for (int32 day = 1; day <= Time::daysInMonth(year, month); ++day, ++index) {
                const int32 hour = index * 7 % 24, minute = index * 13 % 60,
                            second = index * 29 % 60;

                tm broken = KovanTest::fields(year, month, day, hour, minute, second);
                const time_t utc = Time::utcMkTime(&broken);
                tm local = {};
                ASSERT_TRUE(Time::localTime(utc, &local)) << year << "-" << month << "-" << day;
                tm again = local;
                add(&lines,
                    "%d-%d-%d %lld local %d-%d-%d %d:%d:%d dst %d wday %d yday %d back %lld\n",
                    year, month, day, static_cast<long long>(utc), local.tm_year, local.tm_mon,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_isdst,
                    local.tm_wday, local.tm_yday, static_cast<long long>(Time::mkTime(&again)));

                // The packed calendar word holds 1970..2033.
                if (year <= 2033) {
                    const Time t(year, month, day, hour, minute, second);
                    const TimeSpan since = t - epoch;
                    const Time forward = epoch + since;
                    char text[64];
                    TimeFormatter formatter(index % TimeFormatter::FORMAT_COUNT, '/');
                    add(&lines,
                        "word %08" PRIx32 " dow %d utc %lld local %lld kx %ld span %d %d:%d:%d "
                        "total %d back %08" PRIx32 " text %s\n",
                        t.toUint32(), static_cast<int>(t.dayOfWeek()),
                        static_cast<long long>(t.utc_time_t()), static_cast<long long>(time_t(t)),
                        convertToKxTime32(t), since.days(), since.hours(), since.minutes(),
                        since.seconds(), since.totalSeconds(), forward.toUint32(),
                        formatter.print(text, sizeof(text), t));
                }

                // NTP: the era-0 seconds and the fraction of a microsecond count, both ways.
                const SntpTime ntp(
                    timeval { utc, static_cast<suseconds_t>(index * 1237 % 1000000) });
                const timeval back = ntp;
                const SntpTime later = ntp + 0.25;
                add(&lines,
                    "ntp %08" PRIx32 ".%08" PRIx32 " back %lld.%06ld later %08" PRIx32 ".%08" PRIx32
                    " diff %.9f\n",
                    ntp.seconds(), ntp.fraction(), static_cast<long long>(back.tv_sec),
                    static_cast<long>(back.tv_usec), later.seconds(), later.fraction(),
                    later - ntp);
            }
        }
    }
    EXPECT_EQ(24837, index);
    if (getenv("KOVAN_PLATFORM_DUMP"))
        std::ofstream(getenv("KOVAN_PLATFORM_DUMP")) << lines;
    Md5 md5;
    md5.init(nullptr);
    md5.append(lines.data(), int32(lines.size()));
    uint8 bytes[16];
    md5.finish(bytes);
    char hex[33];
    for (size_t i = 0; i < 16; ++i)
        (void)snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
    EXPECT_STREQ("a48f14395c1915e1d70dfa2d22613adb", hex);
}
