// The host and the field boards (32-bit long and time_t, unsigned char, another C++ runtime) must
// compute the same: every day of 1970..2037 goes through the calendar, time-zone, packed-word,
// formatting and NTP code. All of it would be megabytes of text, so the golden file keeps the
// lines of every 61st day in full and a hash of each year's lines; a failure names the first line
// that differs. When the results change on purpose, rewrite the file on the host with
// KOVAN_WRITE_GOLDEN=1 and check that armhf then agrees.
#include "support/TimeSupport.h"

#include "foundation/Time.h"
#include "foundation/TimeFormatter.h"
#include "sntp/SntpTime.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

using namespace Kovan;

namespace {

std::string fnv1a(const std::string& text)
{
    uint64_t hash = 14695981039346656037U;
    for (const char c : text)
        hash = (hash ^ uint8(c)) * 1099511628211U;
    char hex[17];
    (void)snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// The first line where `actual` and `expected` part, with both versions; empty when they agree.
std::string firstDifference(const std::string& actual, const std::string& expected)
{
    std::istringstream a(actual), e(expected);
    std::string got, want;
    for (int number = 1;; ++number) {
        const bool more = static_cast<bool>(std::getline(a, got));
        const bool moreWanted = static_cast<bool>(std::getline(e, want));
        if (!more && !moreWanted)
            return "";
        if (more != moreWanted || got != want)
            return "line " + std::to_string(number) + "\n  golden: " + (moreWanted ? want : "(end)")
                + "\n  here:   " + (more ? got : "(end)");
    }
}

} // namespace

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
        golden += "year " + std::to_string(year) + " " + fnv1a(year_lines) + "\n";
    }
    if (getenv("KOVAN_WRITE_GOLDEN")) {
        std::ofstream(KOVAN_PLATFORM_GOLDEN) << golden;
        GTEST_SKIP() << "wrote " << KOVAN_PLATFORM_GOLDEN;
    }
    std::ifstream file(KOVAN_PLATFORM_GOLDEN);
    ASSERT_TRUE(file) << "cannot read " << KOVAN_PLATFORM_GOLDEN;
    std::stringstream expected;
    expected << file.rdbuf();
    EXPECT_EQ("", firstDifference(golden, expected.str()));
}
