#include "tool/RtcText.h"

#include "foundation/Bcd.h"
#include "foundation/Time.h"
#include "tool/ChipModel.h"
#include "tool/RtcChip.h"
#include "tool/RtcFailure.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Kovan {

std::string isoTime(time_t t, bool utc)
{
    tm fields = {};
    if (utc)
        gmtime_r(&t, &fields);
    else
        localtime_r(&t, &fields);
    const long offset = utc ? 0 : fields.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[64];
    (void)snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
        fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
        fields.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string isoUtcMs(double t)
{
    const double whole = std::floor(t);
    long ms = std::lround((t - whole) * 1000.0);
    time_t seconds = static_cast<time_t>(whole);
    if (1000 == ms) {
        ms = 0;
        ++seconds;
    }
    tm fields = {};
    gmtime_r(&seconds, &fields);
    char text[64];
    (void)snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", fields.tm_year + 1900,
        fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec, ms);
    return text;
}

namespace {

bool digits(const char*& p, int count, int* value)
{
    *value = 0;
    for (int i = 0; i < count; ++i, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        *value = *value * 10 + (*p - '0');
    }
    return true;
}

} // namespace

bool parseIso(const char* text, time_t* instant)
{
    const char* p = text;
    int year, month, day, hour, minute, second;
    if (!digits(p, 4, &year) || '-' != *p++ || !digits(p, 2, &month) || '-' != *p++
        || !digits(p, 2, &day))
        return false;
    if ('T' != *p && 't' != *p && ' ' != *p)
        return false;
    ++p;
    if (!digits(p, 2, &hour) || ':' != *p++ || !digits(p, 2, &minute) || ':' != *p++
        || !digits(p, 2, &second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > Time::daysInMonth(year, month) || hour > 23
        || minute > 59 || second > 59)
        return false;
    if ('.' == *p || ',' == *p) { // a fraction: the write lands on a whole second anyway
        ++p;
        if (*p < '0' || *p > '9')
            return false;
        while (*p >= '0' && *p <= '9')
            ++p;
    }
    tm fields = {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    if (!*p) {
        fields.tm_isdst = -1;
        const tm wanted = fields;
        *instant = mktime(&fields);
        return -1 != *instant && fields.tm_hour == wanted.tm_hour && fields.tm_min == wanted.tm_min
            && fields.tm_mday == wanted.tm_mday;
    }
    long offset = 0;
    if ('Z' == *p || 'z' == *p) {
        ++p;
    } else if ('+' == *p || '-' == *p) {
        const int sign = '-' == *p++ ? -1 : 1;
        int hh = 0, mm = 0;
        if (!digits(p, 2, &hh))
            return false;
        if (':' == *p)
            ++p;
        if (*p && !digits(p, 2, &mm))
            return false;
        if (hh > 23 || mm > 59)
            return false;
        offset = sign * (hh * 3600L + mm * 60L);
    } else {
        return false;
    }
    if (*p)
        return false;
    *instant = timegm(&fields) - offset;
    return true;
}

bool parseNumber(const char* text, long max, long* value)
{
    const bool hex = '0' == text[0] && ('x' == text[1] || 'X' == text[1]);
    const char* p = hex ? text + 2 : text;
    if (!*p)
        return false;
    long v = 0;
    for (; *p; ++p) {
        int d = -1;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (hex && *p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (hex && *p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        if (d < 0)
            return false;
        v = v * (hex ? 16 : 10) + d;
        if (v > max)
            return false;
    }
    *value = v;
    return true;
}

bool validCalendar(const unsigned char* f)
{
    for (int i = 0; i < CALENDAR_SIZE; ++i) {
        if (WDAY != i && !isBcd(f[i]))
            return false;
    }
    const int month = fromBcd(f[MONTH]);
    return month >= 1 && month <= 12 && fromBcd(f[MDAY]) >= 1
        && fromBcd(f[MDAY]) <= Time::daysInMonth(2000 + fromBcd(f[YEAR]), month)
        && fromBcd(f[HOUR]) < 24 && fromBcd(f[MINUTE]) < 60 && fromBcd(f[SECOND]) < 60;
}

time_t calendarInstant(const unsigned char* f, bool utc)
{
    if (!validCalendar(f))
        fail("the chip holds no valid time (%02x-%02x-%02x %02x:%02x:%02x); set it with "
             "'quillo-rtc set'",
            f[YEAR], f[MONTH], f[MDAY], f[HOUR], f[MINUTE], f[SECOND]);
    tm t = {};
    fieldsToTm(f, &t);
    if (utc)
        return timegm(&t);
    // The zone decides whether daylight saving applies: no phantom hour.
    t.tm_isdst = -1;
    return mktime(&t);
}

void calendarFor(time_t instant, bool utc, unsigned char* fields)
{
    tm t = {};
    if (utc)
        gmtime_r(&instant, &t);
    else
        localtime_r(&instant, &t);
    if (t.tm_year < 100 || t.tm_year > 199)
        fail("%s is outside the chip's years 2000-2099; give a time within them",
            isoTime(instant, utc).c_str());
    tmToFields(&t, fields);
}

bool parseSeconds(const char* text, double* seconds)
{
    char* end = nullptr;
    errno = 0;
    double value = strtod(text, &end);
    if (end == text || ERANGE == errno || !std::isfinite(value) || value < 0)
        return false;
    if ('m' == *end)
        value *= 60, ++end;
    else if ('h' == *end)
        value *= 3600, ++end;
    else if ('s' == *end)
        ++end;
    if (*end || value > 1e8)
        return false;
    *seconds = value;
    return true;
}

} // namespace Kovan
