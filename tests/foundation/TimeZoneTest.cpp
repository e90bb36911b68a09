#include "foundation/TimeZone.h"

#include "support/StderrCapture.h"
#include "support/TimeSupport.h"

#include "foundation/Time.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace Kovan;
using KovanTest::ScopedTz;

TEST(TimeZoneTest, EveryRowAndTheZoneItSetsAgreeWithTheZoneDatabase)
{
    ScopedTz restore("UTC");
    // Rows as of about 2004, but for names that now stand elsewhere or rules changed since.
    const std::set<TimeZone::Id> summerDiffers = { TimeZone::Saskatchewan, TimeZone::Brasilia,
        TimeZone::Jerusalem, TimeZone::Perth, TimeZone::Magadan_SolomonIs_NewCaledonia };
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const TimeZone::Id zone = static_cast<TimeZone::Id>(id);
        const std::string row = TimeZone::fileName(zone);
        // A row labelled "GMT-07:00" stands for the fixed zone Etc/GMT+7, without summer time.
        const std::string name = 0 != row.compare(0, 3, "GMT") || 9 != row.size()
            ? row
            : "Etc/GMT" + std::string(1, '-' == row[3] ? '+' : '-')
                + std::to_string(std::stoi(row.substr(4, 2)));
        const long minutes = TimeZone::minutesFromGmt(zone);
        // Sampled every ten days of 1970..2037: standard offsets used, summer time in 2004.
        std::set<long> standard;
        bool summerIn2004 = false;
        {
            const ScopedTz tz(name.c_str());
            for (time_t t = 0; t < 2145916800; t += 10L * 86400) {
                tm local;
                localtime_r(&t, &local);
                if (0 == local.tm_isdst)
                    standard.insert(local.tm_gmtoff / 60);
                summerIn2004 |= 0 != local.tm_isdst && 104 == local.tm_year;
            }
        }
        EXPECT_TRUE(TimeZone::Brasilia == zone || standard.count(minutes))
            << name << " never used " << minutes;
        EXPECT_TRUE(
            name != row || summerDiffers.count(zone) || summerIn2004 == TimeZone::dstUsed(zone))
            << name << ": summer time";
        TimeZone::setCurrentTimeZone(TimeZone(zone, false)); // the row's offset, sign and all
        tm broken;
        const time_t jan = 1231027200;
        localtime_r(&jan, &broken);
        EXPECT_EQ(minutes * 60, broken.tm_gmtoff) << getenv("TZ");
    }
    TimeZone::setCurrentTimeZone(TimeZone(TimeZone::Canberra_Melbourne_Sydney, true));
    EXPECT_EQ(11, Time(static_cast<time_t>(1230768000)).hour()) << "the zone's summer time";
    // A labelled row has no rules: its standard offset even with daylight saving asked for.
    TimeZone::setCurrentTimeZone(TimeZone(TimeZone::Chihuahua_Mazatlan, true));
    EXPECT_EQ(Time(2009, 7, 1, 9, 0, 0), Time(static_cast<time_t>(1246464000)));
    KovanTest::StderrCapture err; // the zone of the system is not known: Greenwich, said so
    const TimeZone current = TimeZone::currentTimeZone();
    EXPECT_EQ(std::make_pair(TimeZone::Greenwich_Dublin_Edinburgh_Lisbon_London, false),
        std::make_pair(current.id(), current.dst()));
    EXPECT_NE("", err.take());
    EXPECT_CHECK_FAILS(TimeZone(static_cast<TimeZone::Id>(TimeZone::MAX_TIME_ZONE_COUNT), false),
        "0 <= id && id < MAX_TIME_ZONE_COUNT", "set");
}
