#include "foundation/TimeZone.h"

#include "support/ScopedTz.h"
#include "support/StderrCapture.h"

#include "foundation/Time.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace Kovan;

TEST(TimeZoneTest, DstIsKeptOnlyWhereTheZoneObservesIt)
{
    EXPECT_EQ(TimeZone(TimeZone::Arizona, true), TimeZone(TimeZone::Arizona, false));
    EXPECT_TRUE(TimeZone(TimeZone::EasternTime, true).dst());
    int dstZones = 0;
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id)
        dstZones += TimeZone::dstUsed(static_cast<TimeZone::Id>(id)) ? 1 : 0;
    EXPECT_EQ(39, dstZones);
    for (int bad : { 76, -1 })
        EXPECT_CHECK_FAILS(TimeZone(static_cast<TimeZone::Id>(bad), false),
            "0 <= id && id < MAX_TIME_ZONE_COUNT", "set");

    KovanTest::StderrCapture err;
    const TimeZone tz = TimeZone::currentTimeZone();
    EXPECT_EQ("TimeZone::currentTimeZone() is not implemented yet.\n", err.take());
    EXPECT_EQ(TimeZone(TimeZone::Greenwich_Dublin_Edinburgh_Lisbon_London, false), tz);
}

TEST(TimeZoneTest, EveryZoneNameExistsInTheZoneDatabase)
{
    // Seven rows carry a "GMT+hh:mm" label instead of a database name (never handed to TZ);
    // they are pinned so that a change to the table shows.
    std::vector<std::string> missing, labels;
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const std::string name = TimeZone::fileName(static_cast<TimeZone::Id>(id));
        struct stat st;
        if (0 == stat(("/usr/share/zoneinfo/" + name).c_str(), &st) && S_ISREG(st.st_mode))
            continue;
        (0 == name.compare(0, 4, "GMT+") || 0 == name.compare(0, 4, "GMT-") ? labels : missing)
            .push_back(name);
    }
    EXPECT_EQ(std::vector<std::string>(), missing) << "zone names missing from tzdata";
    EXPECT_EQ((std::vector<std::string> { "GMT-07:00", "GMT-06:00", "GMT-03:00", "GMT-02:00",
                  "GMT+01:00", "GMT+05:00", "GMT+13:00" }),
        labels);
}

TEST(TimeZoneTest, SetCurrentTimeZoneWritesTz)
{
    KovanTest::ScopedTz restore("UTC");
    const struct {
        TimeZone::Id id;
        bool dst;
        const char* tz;
    } cases[] = { { TimeZone::EasternTime, true, "US/Eastern" },
        { TimeZone::EasternTime, false, "GMT+5:00" },
        { TimeZone::Greenwich_Dublin_Edinburgh_Lisbon_London, false, "GMT" },
        { TimeZone::Kathmandu, true, "GMT-5:45" },
        // The labelled zones keep their right standard offset with daylight saving on.
        { TimeZone::Chihuahua_Mazatlan, true, "GMT+7:00" } };
    for (const auto& c : cases) {
        TimeZone::setCurrentTimeZone(TimeZone(c.id, c.dst));
        EXPECT_STREQ(c.tz, getenv("TZ"));
    }

    // Every zone's standard-time text gives the library the row's offset.
    for (int id = 0; id < TimeZone::MAX_TIME_ZONE_COUNT; ++id) {
        const TimeZone::Id zone = static_cast<TimeZone::Id>(id);
        TimeZone::setCurrentTimeZone(TimeZone(zone, false));
        tm broken;
        const time_t jan = 1231027200;
        localtime_r(&jan, &broken);
        EXPECT_EQ(TimeZone::minutesFromGmt(zone) * 60L, broken.tm_gmtoff) << getenv("TZ");
    }
    // 2009-01-01 00:00 UTC is summer in Sydney: ten hours plus one.
    TimeZone::setCurrentTimeZone(TimeZone(TimeZone::Canberra_Melbourne_Sydney, true));
    EXPECT_EQ(11, Time(static_cast<time_t>(1230768000)).hour());
}
