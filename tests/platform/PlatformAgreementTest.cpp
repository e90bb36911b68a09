// The host and the field boards (32-bit long and time_t, unsigned char, another C++ runtime) must
// compute the same for every day of 1970..2037. The golden file keeps every 61st day's lines and a
// hash of each year's; when the results change on purpose, rewrite it on the host with
// KOVAN_WRITE_GOLDEN=1 and check that armhf then agrees.
#include "support/TimeSupport.h"

#include "foundation/Time.h"
#include "foundation/TimeFormatter.h"
#include "sntp/SntpTime.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace Kovan;

TEST(PlatformAgreementTest, EveryDayOf1970To2037GivesTheSameResults)
{
    // A rule written out, not a zone file: the digest must not move with the machine's tzdata.
    KovanTest::ScopedTz zone("EST5EDT,M3.2.0,M11.1.0");
    std::string golden, year_lines;
    const Time epoch(1970, 1, 1, 0, 0, 0);
    char line[512];
    for (int32 year = 1970, index = 0; year <= 2037; ++year) {
        year_lines.clear();
        for (int32 month = 1; month <= 12; ++month) {
            for (int32 day = 1; day <= Time::daysInMonth(year, month); ++day, ++index) {
                std::string lines;
                const int32 hour = index * 7 % 24, minute = index * 13 % 60, sec = index * 29 % 60;
                tm broken = KovanTest::fields(year, month, day, hour, minute, sec);
                const time_t utc = Time::utcMkTime(&broken);
                tm local = {};
                ASSERT_TRUE(Time::localTime(utc, &local)) << utc;
                tm again = local;
                // NTP: the era-0 seconds and the fraction of a microsecond count, both ways.
                const SntpTime ntp(timeval { utc, suseconds_t(index * 1237 % 1000000) });
                const timeval back = ntp;
                const SntpTime later = ntp + 0.25;
                (void)snprintf(line, sizeof line,
                    "%lld %d-%d-%d %d:%d:%d dst %d %d %d back %lld ntp %08x.%08x back %lld.%06ld "
                    "later %08x.%08x %.9f\n",
                    static_cast<long long>(utc), local.tm_year, local.tm_mon, local.tm_mday,
                    local.tm_hour, local.tm_min, local.tm_sec, local.tm_isdst, local.tm_wday,
                    local.tm_yday, static_cast<long long>(Time::mkTime(&again)), ntp.seconds(),
                    ntp.fraction(), static_cast<long long>(back.tv_sec), long(back.tv_usec),
                    later.seconds(), later.fraction(), later - ntp);
                lines += line;
                if (year <= 2033) { // the packed calendar word holds 1970..2033
                    const Time t(year, month, day, hour, minute, sec);
                    const TimeSpan since = t - epoch;
                    char text[64];
                    (void)snprintf(line, sizeof line, "%08x %d %lld %lld %ld span %d %d %08x %s\n",
                        t.toUint32(), int(t.dayOfWeek()), static_cast<long long>(t.utc_time_t()),
                        static_cast<long long>(time_t(t)), convertToKxTime32(t), since.days(),
                        since.totalSeconds(), (epoch + since).toUint32(),
                        TimeFormatter(index % TimeFormatter::FORMAT_COUNT, '/').print(text, 64, t));
                    lines += line;
                }
                year_lines += lines;
                if (0 == index % 61)
                    golden += lines;
            }
        }
        uint64_t hash = 14695981039346656037U; // FNV-1a
        for (const char c : year_lines)
            hash = (hash ^ uint8(c)) * 1099511628211U;
        (void)snprintf(line, sizeof line, "year %d %016llx\n", int(year),
            static_cast<unsigned long long>(hash));
        golden += line;
    }
    if (getenv("KOVAN_WRITE_GOLDEN")) {
        std::ofstream(KOVAN_PLATFORM_GOLDEN) << golden;
        GTEST_SKIP() << "wrote " << KOVAN_PLATFORM_GOLDEN;
    }
    std::ifstream file(KOVAN_PLATFORM_GOLDEN);
    ASSERT_TRUE(file) << "cannot read " << KOVAN_PLATFORM_GOLDEN;
    // gtest shows a difference as a diff with line numbers.
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), golden);
}
