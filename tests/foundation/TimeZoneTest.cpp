#include "foundation/TimeZone.h"

#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

#include "foundation/Time.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>

using namespace Kovan;
using KovanTest::ScopedTz;

namespace {

// The standard-time offsets, in minutes, the system's zone database gives `name` from 1970 to
// 2037 (sampled every ten days), or nothing when it does not know the name.
std::set<long> standardOffsets(const std::string& name)
{
    std::set<long> offsets;
    if (0 != access(("/usr/share/zoneinfo/" + name).c_str(), R_OK))
        return offsets;
    ScopedTz tz(name.c_str());
    for (time_t t = 0; t < 2145916800; t += 10 * 86400) {
        tm local;
        localtime_r(&t, &local);
        if (0 == local.tm_isdst)
            offsets.insert(local.tm_gmtoff / 60);
    }
    return offsets;
}

} // namespace

TEST(TimeZoneTest, EveryRowsOffsetIsOneItsZoneHasUsedAsStandardTime)
{
    // The zone database is the oracle. A row labelled "GMT-07:00" instead of a zone name carries
    // its offset in the label. Acre's zone has never been three hours behind: the row names the
    // wrong zone for Brasilia, kept for the files written with it.
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const TimeZone::Id zone = static_cast<TimeZone::Id>(id);
        const std::string name = TimeZone::fileName(zone);
        const long minutes = TimeZone::minutesFromGmt(zone);
        int hh = 0, mm = 0;
        char sign = 0;
        if (3 == sscanf(name.c_str(), "GMT%c%d:%d", &sign, &hh, &mm)) {
            EXPECT_EQ(('-' == sign ? -1 : 1) * (hh * 60 + mm), minutes) << name;
            continue;
        }
        const std::set<long> known = standardOffsets(name);
        EXPECT_FALSE(known.empty()) << name << " is missing from the zone database";
        if (TimeZone::Brasilia != zone) {
            EXPECT_EQ(1u, known.count(minutes)) << name << " never used " << minutes;
        }
    }
}

TEST(TimeZoneTest, SetCurrentTimeZoneGivesTheRowsOffsetOrItsDaylightRules)
{
    ScopedTz restore("UTC");
    // Standard time: a fixed offset, right in sign and minutes for every row.
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const TimeZone::Id zone = static_cast<TimeZone::Id>(id);
        TimeZone::setCurrentTimeZone(TimeZone(zone, false));
        tm broken;
        const time_t jan = 1231027200;
        localtime_r(&jan, &broken);
        EXPECT_EQ(TimeZone::minutesFromGmt(zone) * 60L, broken.tm_gmtoff) << getenv("TZ");
    }
    // Daylight saving named by the zone's rules: 2009-01-01 00:00 UTC is summer in Sydney.
    TimeZone::setCurrentTimeZone(TimeZone(TimeZone::Canberra_Melbourne_Sydney, true));
    EXPECT_EQ(11, Time(static_cast<time_t>(1230768000)).hour());
    // A labelled row has no rules: its standard offset even with daylight saving asked for.
    TimeZone::setCurrentTimeZone(TimeZone(TimeZone::Chihuahua_Mazatlan, true));
    EXPECT_EQ(Time(2009, 7, 1, 9, 0, 0), Time(static_cast<time_t>(1246464000)));
    // Where the zone keeps no daylight saving, asking for it changes nothing.
    EXPECT_EQ(TimeZone(TimeZone::Arizona, true), TimeZone(TimeZone::Arizona, false));
    EXPECT_CHECK_FAILS(TimeZone(static_cast<TimeZone::Id>(TimeZone::MAX_TIME_ZONE_COUNT), false),
        "0 <= id && id < MAX_TIME_ZONE_COUNT", "set");
}
