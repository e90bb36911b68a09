// One of 76 fixed world time zones: its offset from GMT, whether it observes daylight saving,
// and making it the process's local zone through the TZ environment variable.
//
// Thread safety: the table is constant; making a zone local writes TZ for the whole process,
// so it is done while no other thread converts times.
#pragma once

#include "foundation/Types.h"

namespace Kovan {

class TimeZone {
public:
    enum Dst { OFF = 0, ON = 1, NOT_USED = 2 };

    enum Id {
        Eniwetok_Kwajalein,
        MidwayIsland_Samoa,
        Hawaii,
        Alaska,
        PacificTime_Tijuana,
        MountainTime,
        Arizona,
        Chihuahua_Mazatlan,
        MexicoCity_Tegucigalpa,
        Saskatchewan,
        CentralTime,
        CentralAmerica,
        EasternTime,
        Bogota_Lima_Quito,
        Indiana,
        AtlanticTime,
        Santiago,
        Caracas_LaPaz,
        Newfoundland,
        Greenland,
        BuenosAires_Georgetown,
        Brasilia,
        MidAtlantic,
        CapeVerdeIs,
        Azores,
        Greenwich_Dublin_Edinburgh_Lisbon_London,
        Casablanca_Monrovia,
        Belgrade_Bratislava_Budapest_Ljubljana_Prague,
        Brussels_Copenhagen_Madrid_Paris_Vilnius,
        Sarajevo_Skopje_Sofija_Warsaw_Zagreb,
        WestCentralAfrica,
        Amsterdam_Berlin_Bern_Rome_Stockholm_Vienna,
        Bucharest,
        Athens_Istanbul_Minsk,
        Jerusalem,
        Cairo,
        Harare_Pretoria,
        Helsinki_Riga_Tallinn,
        Nairobi,
        Moscow_StPetersburg_Volgograd,
        Baghdad_Kuwait_Riyadh,
        Kuwait_Riyadh,
        Tehran,
        Baku_Tbilisi,
        AbuDhabi_Muscat,
        Kabul,
        Ekaterinburg,
        Islamabad_Karachi_Tashkent,
        Bombay_Calcutta_Madras_NewDelhi,
        Kathmandu,
        SriJayawardenepura,
        Astana_Almaty_Dhaka,
        Almaty_Novosiirsk,
        Rangoon,
        Bangkok_Hanoi_Jakarta,
        Krasnoyarsk,
        Beijing_Chongqing_HongKong_Urumqi,
        Irkutsk_UlaanBataar,
        Singapore,
        Taipei,
        Perth,
        Seoul,
        Yakutsk,
        Osaka_Sapporo_Tokyo,
        Darwin,
        Adelaide,
        Guam_PortMoresby,
        Brisbane,
        Vladivostok,
        Canberra_Melbourne_Sydney,
        Hobart,
        Magadan_SolomonIs_NewCaledonia,
        Auckland_Wellington,
        Fiji_Kamchatka_MarshallIs,
        Nukualofa,
        PacificTime,
        MAX_TIME_ZONE_COUNT
    };

    // Greenwich with daylight saving off, like currentTimeZone().
    TimeZone();
    // Checks "0 <= id && id < MAX_TIME_ZONE_COUNT"; `dst` counts only where the zone uses it.
    TimeZone(Id id, bool dst);
    void set(Id id, bool dst);

    Id id() const { return _id; }
    // True only when daylight saving is on in a zone that observes it.
    bool dst() const { return ON == _dst; }

    bool operator==(const TimeZone& tz) const { return _id == tz._id && _dst == tz._dst; }
    bool operator!=(const TimeZone& tz) const { return !operator==(tz); }

    // Minutes east of GMT, standard time.
    static int32 minutesFromGmt(Id id);
    static bool dstUsed(Id id);
    // The zone database name given to TZ when daylight saving is on.
    static const char* fileName(Id id);

    // The process's zone cannot be read back from TZ yet: says so and answers Greenwich.
    static TimeZone currentTimeZone();
    // Sets TZ (and tzset) for the process: the zone database name with daylight saving on,
    // else the fixed standard offset ("GMT", "GMT-5:30"). Not safe while other threads convert
    // local times.
    static void setCurrentTimeZone(const TimeZone& tz);

private:
    struct Record {
        int32 minutesFromGmt;
        const char* fileName;
        bool dstUsed;
    };

    static const Record _zones[MAX_TIME_ZONE_COUNT];

    Id _id;
    Dst _dst;
};

} // namespace Kovan
