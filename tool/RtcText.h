// Times and numbers as quillo-rtc reads and writes them: ISO 8601 text, the chip's calendar
// fields to and from instants, register numbers and durations.
#pragma once

#include <ctime>
#include <string>

namespace Kovan {

// "2031-07-09T21:08:57+09:00" for `t` as local time (the zone of TZ), or with "+00:00" as UTC.
std::string isoTime(time_t t, bool utc);
// UTC with milliseconds: "2031-07-09T12:08:57.250Z".
std::string isoUtcMs(double t);

// "YYYY-MM-DD[T ]hh:mm:ss[.fff][Z|+hh:mm|-hh:mm|+hhmm|+hh]" to an instant; false for anything
// else, a date that does not exist, or an offset beyond 23:59. Without an offset the text is
// local time, which must exist (not in a daylight-saving gap). A fraction is accepted and
// dropped.
bool parseIso(const char* text, time_t* instant);

// Whether the seven BCD fields (hour 0-23) name a real date and time of 2000-2099.
bool validCalendar(const unsigned char* fields);
// The instant the fields name, read as UTC or as local time; a Failure when they name none.
time_t calendarInstant(const unsigned char* fields, bool utc);
// The fields for `instant`; a Failure outside the chip's years 2000 to 2099.
void calendarFor(time_t instant, bool utc, unsigned char* fields);

// "0x1f" hexadecimal or "31" decimal (leading zeros are decimal, never octal), within 0..max.
bool parseNumber(const char* text, long max, long* value);
// Seconds, with an optional unit: "90", "1.5m", "2h"; at most 10^8.
bool parseSeconds(const char* text, double* seconds);

} // namespace Kovan
