#include "foundation/TimeZone.h"

#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

#include "foundation/Time.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <unistd.h>

using namespace Kovan;
using KovanTest::ScopedTz;

namespace {

// What the system's zone database says of a zone, sampled every ten days of 1970..2037: the
// offsets (in minutes) it has used as standard time, and whether it kept summer time in 2004.
// Nothing for a name it does not know.
struct ZoneFacts {
    std::set<long> standard;
    bool summerIn2004 = false;
};

ZoneFacts zoneFacts(const std::string& name)
{
    ZoneFacts facts;
    if (0 != access(("/usr/share/zoneinfo/" + name).c_str(), R_OK))
        return facts;
    ScopedTz tz(name.c_str());
    for (time_t t = 0; t < 2145916800; t += 10L * 86400) {
        tm local;
        localtime_r(&t, &local);
        if (0 == local.tm_isdst)
            facts.standard.insert(local.tm_gmtoff / 60);
        else if (104 == local.tm_year)
            facts.summerIn2004 = true;
    }
    return facts;
}

} // namespace

TEST(TimeZoneTest, EveryRowAgreesWithTheZoneDatabaseOnItsOffsetAndSummerTime)
{
    // The zone database is the oracle; a row labelled "GMT-07:00" instead of a zone name carries
    // its offset in the label. The rows match the world of about 2004, but for five whose zone
    // name stands for another place (Acre for Brasilia, Winnipeg for Saskatchewan) or whose rule
    // has changed since (Jerusalem, Perth, Magadan); the names stay for the files written.
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const TimeZone::Id zone = static_cast<TimeZone::Id>(id);
        const std::string name = TimeZone::fileName(zone);
        const long minutes = TimeZone::minutesFromGmt(zone);
        if (0 == name.compare(0, 3, "GMT") && 9 == name.size()) {
            const int sign = '-' == name[3] ? -1 : 1;
            EXPECT_EQ(
                sign * (std::stoi(name.substr(4, 2)) * 60 + std::stoi(name.substr(7, 2))), minutes)
                << name;
            continue;
        }
        const ZoneFacts facts = zoneFacts(name);
        EXPECT_FALSE(facts.standard.empty()) << name << " is missing from the zone database";
        if (TimeZone::Brasilia != zone) {
            EXPECT_EQ(1u, facts.standard.count(minutes)) << name << " never used " << minutes;
        }
        const std::set<TimeZone::Id> summerDiffers = { TimeZone::Saskatchewan, TimeZone::Brasilia,
            TimeZone::Jerusalem, TimeZone::Perth, TimeZone::Magadan_SolomonIs_NewCaledonia };
        if (0 == summerDiffers.count(zone)) {
            EXPECT_EQ(facts.summerIn2004, TimeZone::dstUsed(zone)) << name << ": summer time";
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
    EXPECT_DEATH(TimeZone::fileName(static_cast<TimeZone::Id>(-1)), "");
}
