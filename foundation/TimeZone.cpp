#include "foundation/TimeZone.h"

#include "foundation/Btring.h"
#include "foundation/Trace.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace Kovan {

namespace {

// A few rows carry a label such as "GMT-07:00" instead of a zone database name. Given to TZ it
// would read with the opposite sign and no daylight-saving rule, so those zones always use their
// fixed standard offset.
bool isOffsetLabel(const char* fileName)
{
    return 0 == strncmp(fileName, "GMT", 3) && ('+' == fileName[3] || '-' == fileName[3]);
}

} // namespace

// minutesFromGmt, fileName, dstUsed; the ids are the row positions.
const TimeZone::Record TimeZone::_zones[MAX_TIME_ZONE_COUNT] = {
    { -720, "Pacific/Kwajalein", false }, // Eniwetok_Kwajalein
    { -660, "Pacific/Midway", false }, // MidwayIsland_Samoa
    { -600, "US/Hawaii", false }, // Hawaii
    { -540, "US/Alaska", true }, // Alaska
    { -480, "America/Tijuana", true }, // PacificTime_Tijuana
    { -420, "US/Mountain", true }, // MountainTime
    { -420, "US/Arizona", false }, // Arizona
    { -420, "GMT-07:00", true }, // Chihuahua_Mazatlan
    { -360, "America/Mexico_City", true }, // MexicoCity_Tegucigalpa
    { -360, "Canada/Central", false }, // Saskatchewan
    { -360, "US/Central", true }, // CentralTime
    { -360, "GMT-06:00", false }, // CentralAmerica
    { -300, "US/Eastern", true }, // EasternTime
    { -300, "America/Bogota", false }, // Bogota_Lima_Quito
    { -300, "US/Indiana-Starke", false }, // Indiana
    { -240, "Canada/Atlantic", true }, // AtlanticTime
    { -240, "America/Santiago", true }, // Santiago
    { -240, "America/Caracas", false }, // Caracas_LaPaz
    { -210, "Canada/Newfoundland", true }, // Newfoundland
    { -180, "GMT-03:00", true }, // Greenland
    { -180, "America/Buenos_Aires", false }, // BuenosAires_Georgetown
    { -180, "Brazil/Acre", true }, // Brasilia
    { -120, "GMT-02:00", true }, // MidAtlantic
    { -60, "Atlantic/Cape_Verde", false }, // CapeVerdeIs
    { -60, "Atlantic/Azores", true }, // Azores
    { 0, "Europe/London", true }, // Greenwich_Dublin_Edinburgh_Lisbon_London
    { 0, "Greenwich", false }, // Casablanca_Monrovia
    { 60, "Europe/Budapest", true }, // Belgrade_Bratislava_Budapest_Ljubljana_Prague
    { 60, "Europe/Paris", true }, // Brussels_Copenhagen_Madrid_Paris_Vilnius
    { 60, "Europe/Sarajevo", true }, // Sarajevo_Skopje_Sofija_Warsaw_Zagreb
    { 60, "GMT+01:00", false }, // WestCentralAfrica
    { 60, "Europe/Berlin", true }, // Amsterdam_Berlin_Bern_Rome_Stockholm_Vienna
    { 120, "Europe/Bucharest", true }, // Bucharest
    { 120, "Europe/Istanbul", true }, // Athens_Istanbul_Minsk
    { 120, "Israel", false }, // Jerusalem
    { 120, "Africa/Cairo", true }, // Cairo
    { 120, "Africa/Harare", false }, // Harare_Pretoria
    { 120, "Europe/Helsinki", true }, // Helsinki_Riga_Tallinn
    { 180, "Africa/Nairobi", false }, // Nairobi
    { 180, "Europe/Moscow", true }, // Moscow_StPetersburg_Volgograd
    { 180, "Asia/Baghdad", true }, // Baghdad_Kuwait_Riyadh
    { 180, "Asia/Kuwait", false }, // Kuwait_Riyadh
    { 210, "Iran", true }, // Tehran
    { 240, "Asia/Tbilisi", true }, // Baku_Tbilisi
    { 240, "Asia/Muscat", false }, // AbuDhabi_Muscat
    { 270, "Asia/Kabul", false }, // Kabul
    { 300, "GMT+05:00", true }, // Ekaterinburg
    { 300, "Asia/Tashkent", false }, // Islamabad_Karachi_Tashkent
    { 330, "Asia/Calcutta", false }, // Bombay_Calcutta_Madras_NewDelhi
    { 345, "Asia/Katmandu", false }, // Kathmandu
    { 360, "Asia/Dacca", false }, // SriJayawardenepura
    { 360, "Asia/Dacca", false }, // Astana_Almaty_Dhaka
    { 360, "Asia/Novosibirsk", true }, // Almaty_Novosiirsk
    { 390, "Asia/Rangoon", false }, // Rangoon
    { 420, "Asia/Bangkok", false }, // Bangkok_Hanoi_Jakarta
    { 420, "Asia/Krasnoyarsk", true }, // Krasnoyarsk
    { 480, "ROC", false }, // Beijing_Chongqing_HongKong_Urumqi
    { 480, "Asia/Ulan_Bator", true }, // Irkutsk_UlaanBataar
    { 480, "Singapore", false }, // Singapore
    { 480, "Asia/Taipei", false }, // Taipei
    { 480, "Australia/Perth", true }, // Perth
    { 540, "ROK", false }, // Seoul
    { 540, "Asia/Yakutsk", true }, // Yakutsk
    { 540, "Japan", false }, // Osaka_Sapporo_Tokyo
    { 570, "Australia/Darwin", false }, // Darwin
    { 570, "Australia/Adelaide", true }, // Adelaide
    { 600, "Pacific/Guam", false }, // Guam_PortMoresby
    { 600, "Australia/Brisbane", false }, // Brisbane
    { 600, "Asia/Vladivostok", true }, // Vladivostok
    { 600, "Australia/Sydney", true }, // Canberra_Melbourne_Sydney
    { 600, "Australia/Hobart", true }, // Hobart
    { 660, "Asia/Magadan", false }, // Magadan_SolomonIs_NewCaledonia
    { 720, "NZ", true }, // Auckland_Wellington
    { 720, "Pacific/Fiji", false }, // Fiji_Kamchatka_MarshallIs
    { 780, "GMT+13:00", false }, // Nukualofa
    { -480, "US/Pacific", true }, // PacificTime
};

TimeZone::TimeZone()
    : _id(Greenwich_Dublin_Edinburgh_Lisbon_London)
    , _dst(OFF)
{
}

TimeZone::TimeZone(Id id, bool dst) { set(id, dst); }

void TimeZone::set(Id id, bool dst)
{
    KOVAN_CHECK(0 <= id && id < MAX_TIME_ZONE_COUNT);
    _id = id;
    if (_zones[id].dstUsed)
        _dst = dst ? ON : OFF;
    else
        _dst = NOT_USED;
}

int32 TimeZone::minutesFromGmt(Id id)
{
    KOVAN_CHECK(0 <= id && id < MAX_TIME_ZONE_COUNT);
    return _zones[id].minutesFromGmt;
}

bool TimeZone::dstUsed(Id id)
{
    KOVAN_CHECK(0 <= id && id < MAX_TIME_ZONE_COUNT);
    return _zones[id].dstUsed;
}

const char* TimeZone::fileName(Id id)
{
    KOVAN_CHECK(0 <= id && id < MAX_TIME_ZONE_COUNT);
    return _zones[id].fileName;
}

TimeZone TimeZone::currentTimeZone()
{
    trace("TimeZone::currentTimeZone() is not implemented yet.\n");
    return TimeZone(Greenwich_Dublin_Edinburgh_Lisbon_London, false);
}

void TimeZone::setCurrentTimeZone(const TimeZone& tz)
{
    const Record& zone = _zones[tz.id()];
    Btring<256> text;
    if (tz.dst() && !isOffsetLabel(zone.fileName)) {
        text = zone.fileName;
    } else if (0 == zone.minutesFromGmt) {
        text = "GMT";
    } else {
        // TZ counts west of Greenwich as positive: 540 minutes east is GMT-9:00.
        const int32 m = zone.minutesFromGmt;
        text.printf("GMT%+d:%02d", m / -60, (m < 0 ? -m : m) % 60);
    }
    // Changing the process's zone is this function's purpose; callers do it before they start
    // threads that read the local time.
    setenv("TZ", text, 1); // NOLINT(concurrency-mt-unsafe)
    tzset();
}

} // namespace Kovan
