#include "sim/ChipCalendar.h"

#include "sim/BenchSim.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace BenchSim {

namespace {

constexpr int64_t DAY = 86400;
// The two-digit year wraps after 2099; 2000 to 2099 has 25 leap years, 2000 included.
constexpr int64_t CENTURY_DAYS = 36525;

// Days from 2000-01-01 to the given date of the proleptic Gregorian calendar.
int64_t daysFrom2000(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 - 10957;
}

void dateFrom2000(int64_t days, int* year, int* month, int* day)
{
    days += 719468 + 10957;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

int daysInMonth(int year, int month)
{
    static const int days[12] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return (2 == month && 0 == year % 4) ? 29 : days[month - 1];
}

// The oscillator's rate against the host's clock: from a stopped one to a thousandfold one, so
// every product with it stays finite.
double chipRate()
{
    return 1.0 + std::min(std::max(numberSetting("DRIFT_PPM", 0.0), -1e6), 1e9) / 1e6;
}

bool counts(const ChipCalendar::Registers& r)
{
    if (!isBcd(r.year) || !isBcd(r.month) || !isBcd(r.day) || !isBcd(r.hour) || !isBcd(r.minute)
        || !isBcd(r.second))
        return false;
    const int month = fromBcd(r.month);
    if (month < 1 || month > 12)
        return false;
    const int day = fromBcd(r.day);
    return day >= 1 && day <= daysInMonth(2000 + fromBcd(r.year), month) && fromBcd(r.hour) < 24
        && fromBcd(r.minute) < 60 && fromBcd(r.second) < 60;
}

} // namespace

bool isBcd(uint8_t value) { return (value & 0x0F) <= 9 && (value >> 4) <= 9; }
int fromBcd(uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }
uint8_t toBcd(int value)
{
    const unsigned v = static_cast<unsigned>(value) % 100;
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

ChipCalendar::ChipCalendar()
    : _setAt(hostNow())
{
}

void ChipCalendar::set(const Registers& registers, double hostTime)
{
    _set = registers;
    _setAt = hostTime;
    _trimSince = hostTime;
    _trimCarried = 0;
}

void ChipCalendar::reset(double hostTime) { set(Registers(), hostTime); }

double ChipCalendar::start() const
{
    // The seconds divider restarts when the calendar is written, unless the bench places the
    // edges itself: then the count starts EDGE_MS after the whole host second of the writing.
    const double edgeMs = numberSetting("EDGE_MS", -1.0);
    return edgeMs >= 0.0 ? std::floor(_setAt) + std::min(edgeMs, 999.999) / 1000.0 : _setAt;
}

void ChipCalendar::trim(double ppm, double hostTime)
{
    const double trimmedFrom = std::max(start(), _trimSince);
    if (hostTime > trimmedFrom) {
        _trimCarried += (hostTime - trimmedFrom) * chipRate() * _trimPpm / 1e6;
        _trimSince = hostTime;
    }
    _trimPpm = ppm;
}

std::string ChipCalendar::saveTrim() const
{
    char text[64];
    (void)snprintf(text, sizeof text, "%.6f @ %.6f", _trimCarried, _trimSince);
    return text;
}

bool ChipCalendar::loadTrim(const std::string& text)
{
    double carried = 0, since = 0;
    char end = 0;
    // NOLINTNEXTLINE(cert-err34-c): both numbers are checked for range below
    if (2 != sscanf(text.c_str(), "%lf @ %lf %c", &carried, &since, &end))
        return false;
    // Sixty years of 60 ppm; the time within the same bounds as the set's.
    if (!std::isfinite(carried) || std::fabs(carried) > 1.2e5 || !std::isfinite(since)
        || std::fabs(since) > 1e11)
        return false;
    _trimCarried = carried;
    _trimSince = since;
    return true;
}

ChipCalendar::Registers ChipCalendar::at(double hostTime) const
{
    if (!counts(_set))
        return _set;
    const double rate = chipRate();
    const double begin = start();
    // A battery clock does not run backwards when the host's clock is set back. The calendar
    // repeats, weekdays included, every seven centuries, so only the rest of that period counts.
    // The trimming takes or adds oscillator cycles, so it scales with the oscillator's rate.
    double elapsed = 0.0;
    if (hostTime > begin) {
        const double trimmedFrom = std::max(begin, _trimSince);
        elapsed = (hostTime - begin) * rate + _trimCarried
            + (hostTime > trimmedFrom ? (hostTime - trimmedFrom) * rate * _trimPpm / 1e6 : 0.0);
        elapsed = std::max(elapsed, 0.0);
    }
    elapsed = std::fmod(elapsed, 7.0 * CENTURY_DAYS * DAY);
    const int64_t startDay
        = daysFrom2000(2000 + fromBcd(_set.year), fromBcd(_set.month), fromBcd(_set.day));
    const int64_t seconds = startDay * DAY + int64_t { fromBcd(_set.hour) } * 3600
        + int64_t { fromBcd(_set.minute) } * 60 + fromBcd(_set.second)
        + static_cast<int64_t>(std::floor(elapsed));
    const int64_t day = seconds / DAY; // never negative: the set date is 2000 or later
    const int64_t inDay = seconds % DAY;

    Registers now = _set;
    int year = 0, month = 0, mday = 0;
    dateFrom2000(day % CENTURY_DAYS, &year, &month, &mday);
    now.year = toBcd(year - 2000);
    now.month = toBcd(month);
    now.day = toBcd(mday);
    if (_set.weekday <= 6)
        now.weekday = static_cast<uint8_t>((_set.weekday + (day - startDay)) % 7);
    now.hour = toBcd(static_cast<int>(inDay / 3600));
    now.minute = toBcd(static_cast<int>(inDay / 60 % 60));
    now.second = toBcd(static_cast<int>(inDay % 60));
    return now;
}

std::string ChipCalendar::save() const
{
    char text[96];
    (void)snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %02x %02x @ %.6f", _set.year,
        _set.month, _set.day, _set.weekday, _set.hour, _set.minute, _set.second, _setAt);
    return text;
}

bool ChipCalendar::load(const std::string& text)
{
    Registers r;
    double setAt = 0;
    char end = 0;
    // Eight fields and nothing after them: a ninth conversion means trailing garbage.
    // NOLINTNEXTLINE(cert-err34-c): two hex digits, the most each field reads, always fit a byte
    const int fields = sscanf(text.c_str(),
        "%2" SCNx8 " %2" SCNx8 " %2" SCNx8 " %2" SCNx8 " %2" SCNx8 " %2" SCNx8 " %2" SCNx8
        " @ %lf %c",
        &r.year, &r.month, &r.day, &r.weekday, &r.hour, &r.minute, &r.second, &setAt, &end);
    if (8 != fields)
        return false;
    // About 1200 BC to AD 5100 on the host's clock: enough for any bench, and the state file's
    // "%.6f" form stays short.
    if (!std::isfinite(setAt) || std::fabs(setAt) > 1e11)
        return false;
    set(r, setAt);
    return true;
}

} // namespace BenchSim
